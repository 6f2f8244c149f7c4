// A process with known behaviour for the collector tests.
//   quax_test_child hold EXITCODE EVENTBASE
//       does some file I/O, sets EVENTBASE.ready, waits for EVENTBASE.go and
//       exits with EXITCODE
//   quax_test_child sleep MILLISECONDS
//       sleeps, then exits with 0
//   quax_test_child enumerate SECONDS
//       lists the system's process ids once a second (what a collector
//       sampling costs at least), then exits with 0
//   quax_test_child args FILE ARG...
//       appends its arguments after FILE, separated by spaces, as one line
//   quax_test_child append LOGDIR RECORDS EVENTNAME
//       waits for EVENTNAME, then appends RECORDS records of itself to the
//       day's log file in LOGDIR; exits with the number of failed writes
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "process_info.h"
#include "process_logger.h"
#include "unique_handle.h"

namespace {

using quax::unique_handle;

unique_handle OpenNamedEvent(const std::string& name) {
  return unique_handle(OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str()));
}

void DoFileIo() {
  char directory[MAX_PATH];
  char path[MAX_PATH];
  GetTempPathA(sizeof directory, directory);
  GetTempFileNameA(directory, "qtc", 0, path);
  static char block[64 * 1024];
  std::memset(block, 'x', sizeof block);
  {
    unique_handle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    DWORD done = 0;
    for (int i = 0; i < 4; ++i) WriteFile(file.get(), block, sizeof block, &done, nullptr);
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    while (ReadFile(file.get(), block, sizeof block, &done, nullptr) && done != 0) {
    }
  }
}

int Hold(int exitCode, const std::string& eventBase) {
  DoFileIo();
  unique_handle ready = OpenNamedEvent(eventBase + ".ready");
  unique_handle go = OpenNamedEvent(eventBase + ".go");
  if (!ready || !go) return 100;
  SetEvent(ready.get());
  WaitForSingleObject(go.get(), 60000);
  return exitCode;
}

int Append(const char* directory, int records, const std::string& eventName) {
  quax::SetTraceSink(nullptr);
  unique_handle start = OpenNamedEvent(eventName);
  if (!start) return 100;
  quax::CProcessInfo self;
  self.SetProcessId(GetCurrentProcessId());
  if (!self.Refresh()) return 101;
  quax::CProcessLoggerCSV writer;
  writer.SetLogFilePath(directory);
  writer.SetWriteIntervalEndRecords(true);
  WaitForSingleObject(start.get(), 60000);
  int failures = 0;
  const char types[] = {'S', 'I', 'E'};
  for (int i = 0; i < records; ++i) {
    if (!writer.WriteProcessEntry(types[i % 3], &self)) ++failures;
  }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
    return Hold(std::atoi(argv[2]), argv[3]);
  }
  if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) {
    Sleep(static_cast<DWORD>(std::atol(argv[2])));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "enumerate") == 0) {
    static DWORD ids[4096];
    DWORD bytes = 0;
    for (long second = std::atol(argv[2]); second > 0; --second) {
      Sleep(1000);
      EnumProcesses(ids, sizeof ids, &bytes);
    }
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "args") == 0) {
    std::FILE* file = std::fopen(argv[2], "a");
    if (file == nullptr) return 1;
    for (int i = 3; i < argc; ++i) std::fprintf(file, i == 3 ? "%s" : " %s", argv[i]);
    std::fprintf(file, "\n");
    std::fclose(file);
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "append") == 0) {
    return Append(argv[2], std::atoi(argv[3]), argv[4]);
  }
  std::fprintf(stderr, "usage: quax_test_child hold EXITCODE EVENTBASE | sleep MS | enumerate SECONDS | args FILE ARG... | append LOGDIR RECORDS EVENT\n");
  return 2;
}
