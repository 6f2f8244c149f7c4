// Stands in for a tool to which Windows delivers a console control event,
// which no program can send: it stages its output and waits for a line of a
// pipe that no one writes to; the event (the first argument, a number) goes
// to the tools' console handler on a thread of its own as the system does,
// and when the handler returns the process ends with kEndedBySystem, as the
// system then would. The handler must cancel the waiting read so that the
// run cleans up and ends the process itself: exit 130 and the tools' message.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "tools/tool_support.h"
#include "unique_handle.h"

namespace {

using namespace quax::agg::tools;

constexpr const char* kTool = "console_event_child";
constexpr UINT kEndedBySystem = 0xC000013A;  // STATUS_CONTROL_C_EXIT
// Time for the main thread to be waiting in its read.
constexpr DWORD kReadingTime = 200;
// A run still waiting after this long was never told: it ends with kStillWaiting.
constexpr DWORD kLongestWait = 30000;
constexpr UINT kStillWaiting = 3;

int Run(unsigned long event, const std::string& output) {
  {
    StagedOutput staged(output, "");
    std::string message;
    if (!staged.Create(false, message)) return Fail(kTool, message);
    quax::unique_handle readEnd;
    quax::unique_handle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0) || !SetStdHandle(STD_INPUT_HANDLE, readEnd.get())) {
      return Fail(kTool, "no pipe");
    }
    LineInput input;
    if (!input.Open("-", message)) return Fail(kTool, message);
    std::thread([] {
      Sleep(kLongestWait);
      ExitProcess(kStillWaiting);
    }).detach();
    std::thread([event] {
      Sleep(kReadingTime);
      HandleConsoleEvent(event);
      ExitProcess(kEndedBySystem);
    }).detach();
    std::string_view line;
    try {
      input.Next(line);
    } catch (const std::exception&) {  // the read was cancelled
    }
    if (!InterruptRequested()) return Fail(kTool, "the read ended before the event");
  }
  return ReportInterrupted(kTool, output);
}

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  unsigned long event = 0;
  return ToolMain(
      kTool, argc, argv, "Usage: console_event_child EVENT OUTPUT\n",
      [&](CommandLine& line) {
        std::vector<std::string> inputs;
        std::string_view option;
        if (line.NextOption(option) || !line.TakeInputsAndOutput("event", inputs, output) || inputs.size() != 1) {
          return false;
        }
        event = std::strtoul(inputs[0].c_str(), nullptr, 10);
        return true;
      },
      [&] { return Run(event, output); }, output);
}
