"""Runs unittest cases and leaves an XML report in the form of the
GoogleTest reports, so that scripts/test counts every case."""
import argparse
import re
import sys
import time
import unittest
from xml.etree import ElementTree as ET


class _RecordingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.cases = []  # (class name, case name, seconds, failure text or None)
        self._started = 0.0

    def startTest(self, test):
        self._started = time.monotonic()
        super().startTest(test)

    def _record(self, test, failure):
        if isinstance(test, unittest.TestCase):
            class_name, case_name = type(test).__name__, test._testMethodName
        else:
            # A failing setUpClass arrives as "setUpClass (module.Class)".
            match = re.fullmatch(r"(\w+) \((?:.*\.)?(\w+)\)", str(test))
            case_name, class_name = match.groups() if match else (str(test), "module")
        self.cases.append((class_name, case_name, time.monotonic() - self._started, failure))

    def addSuccess(self, test):
        super().addSuccess(test)
        self._record(test, None)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._record(test, self.failures[-1][1])

    def addError(self, test, err):
        super().addError(test, err)
        self._record(test, self.errors[-1][1])


def _write_report(path, cases):
    root = ET.Element("testsuites", tests=str(len(cases)),
                      failures=str(sum(1 for case in cases if case[3])))
    suites = {}
    for class_name, case_name, seconds, failure in cases:
        if class_name not in suites:
            suites[class_name] = ET.SubElement(root, "testsuite", name=class_name)
        case = ET.SubElement(suites[class_name], "testcase", name=case_name, classname=class_name,
                             status="run", result="completed", time=f"{seconds:.3f}")
        if failure:
            ET.SubElement(case, "failure", message=failure.strip().splitlines()[-1]).text = failure
    ET.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)


def main(module_name, add_arguments=None):
    """Parses --report (and what add_arguments adds), runs the cases of
    module_name, writes the report; returns (exit code). The parsed options
    are handed to the module as its OPTIONS before any case runs."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--report", required=True)
    if add_arguments:
        add_arguments(parser)
    options = parser.parse_args()
    module = sys.modules[module_name]
    module.OPTIONS = options
    suite = unittest.defaultTestLoader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(resultclass=_RecordingResult, verbosity=2, stream=sys.stdout).run(suite)
    _write_report(options.report, result.cases)
    return 0 if result.wasSuccessful() else 1
