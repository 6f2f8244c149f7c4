#include "win32/win_event_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "win32/registry.h"
#include "test_support.h"

namespace quax {
namespace {

using test::CapturedEvents;

// ---- Event log bytes as the platform lays them out ----------------------

struct FakeEvent {
  DWORD TimeGenerated;
  DWORD TimeWritten;
  DWORD EventId;
  WORD Type;
  WORD Category;
  std::string Source;
  std::vector<std::string> Strings;
};

void PadToDword(std::string& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back('\0');
}

// One EVENTLOGRECORD: the header, source and computer names, the strings,
// padding and the closing copy of the length.
std::string RecordBytes(const FakeEvent& event, DWORD recordNumber) {
  std::string tail = event.Source + '\0' + "QUAXHOST" + '\0';
  PadToDword(tail);
  const std::size_t stringOffset = sizeof(EVENTLOGRECORD) + tail.size();
  for (const std::string& text : event.Strings) tail += text + '\0';
  PadToDword(tail);
  EVENTLOGRECORD header = {};
  header.Length = static_cast<DWORD>(sizeof header + tail.size() + sizeof(DWORD));
  header.Reserved = 0x654c664c;  // "LfLe"
  header.RecordNumber = recordNumber;
  header.TimeGenerated = event.TimeGenerated;
  header.TimeWritten = event.TimeWritten;
  header.EventID = event.EventId;
  header.EventType = event.Type;
  header.NumStrings = static_cast<WORD>(event.Strings.size());
  header.EventCategory = event.Category;
  header.StringOffset = static_cast<DWORD>(stringOffset);
  header.UserSidOffset = header.DataOffset = static_cast<DWORD>(sizeof header + tail.size());
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  bytes += tail;
  bytes.append(reinterpret_cast<const char*>(&header.Length), sizeof(DWORD));
  return bytes;
}

// Answers ReadEventLogA as the platform does: whole records that fit the
// request, ERROR_INSUFFICIENT_BUFFER with the size of the next one when none
// fits, ERROR_HANDLE_EOF at the end. Each read takes ReadSeconds on its clock.
class FakeEventLog : public EventLogReader {
 public:
  explicit FakeEventLog(std::vector<FakeEvent> events) {
    for (std::size_t i = 0; i < events.size(); ++i) records.push_back(RecordBytes(events[i], static_cast<DWORD>(i + 1)));
  }

  DWORD Open(const std::string& machineName) override {
    openedMachine = machineName;
    open = OpenError == ERROR_SUCCESS;
    next = 0;
    return OpenError;
  }
  DWORD NumberOfRecords() override { return static_cast<DWORD>(records.size()); }
  DWORD Read(DWORD flags, BYTE* buffer, DWORD bytesToRead, DWORD& bytesRead, DWORD& bytesNeeded) override {
    EXPECT_TRUE(open);
    EXPECT_TRUE(flags & EVENTLOG_SEQUENTIAL_READ);
    backwards = (flags & EVENTLOG_BACKWARDS_READ) != 0;
    Requests.push_back(bytesToRead);
    clock += ReadSeconds;
    if (!Answers.empty()) {
      const DWORD answer = Answers.front();
      Answers.pop_front();
      if (answer != ERROR_SUCCESS) return answer;
    }
    bytesRead = 0;
    while (next < records.size()) {
      const std::string& record = records[backwards ? records.size() - 1 - next : next];
      if (bytesRead + record.size() > bytesToRead) break;
      std::memcpy(buffer + bytesRead, record.data(), record.size());
      bytesRead += static_cast<DWORD>(record.size());
      ++next;
    }
    if (bytesRead > 0) return ERROR_SUCCESS;
    if (next == records.size()) return ERROR_HANDLE_EOF;
    bytesNeeded = static_cast<DWORD>(records[backwards ? records.size() - 1 - next : next].size());
    return ERROR_INSUFFICIENT_BUFFER;
  }
  void Close() override { open = false; }
  double Seconds() override { return clock; }
  LONG TimeZoneCorrectionMinutes() override { return CorrectionMinutes; }

  std::vector<std::string> records;
  DWORD OpenError = ERROR_SUCCESS;
  std::deque<DWORD> Answers;  // answered instead of reading, one per read
  std::vector<DWORD> Requests;
  double ReadSeconds = 1.0;  // keeps the request size
  LONG CorrectionMinutes = 0;
  std::string openedMachine;
  bool open = false;
  bool backwards = false;

 private:
  std::size_t next = 0;
  double clock = 0;
};

constexpr DWORD kDay = 86400;
// 1 December 2026 00:00 UTC and its DATE.
constexpr DWORD kDec1 = 1796083200;
constexpr double kDec1Date = 46357.0;

class Progress : public ReadProgress {
 public:
  void OnReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched, std::int32_t totalRecordsToRead,
                      bool& cancelFlag) override {
    Calls.push_back({recordsRead, recordsMatched, totalRecordsToRead});
    cancelFlag = CancelAt != 0 && static_cast<int>(Calls.size()) >= CancelAt;
  }
  struct Call {
    std::int32_t Read, Matched, Total;
  };
  std::vector<Call> Calls;
  int CancelAt = 0;
};

// Events one hour apart from 1 December, a mix of sources, types and categories.
std::vector<FakeEvent> MixedEvents(int count) {
  std::vector<FakeEvent> events;
  for (int i = 0; i < count; ++i) {
    const DWORD time = kDec1 + static_cast<DWORD>(i) * 3600;
    const bool error = i % 3 == 0;
    events.push_back({time, time, error ? 0xE0000003 : 0x60000001,
                      static_cast<WORD>(error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE),
                      static_cast<WORD>(1 + i % 2), i % 4 == 3 ? "Other" : "QUAX",
                      {"event " + std::to_string(i), "second"}});
  }
  return events;
}

class EventReading : public ::testing::Test {
 protected:
  FakeEventLog& Use(std::vector<FakeEvent> events) {
    auto fake = std::make_unique<FakeEventLog>(std::move(events));
    FakeEventLog& reference = *fake;
    log.SetEventLogReader(std::move(fake));
    log.SetReadProgressListener(&progress);
    return reference;
  }

  bool Read(std::int32_t category, std::int32_t type, std::int32_t id, bool reverse, double oldestDate = -657434) {
    return log.ReadEvents(category, type, id, reverse, oldestDate, list, count);
  }

  CWinEventLog log;
  Progress progress;
  std::vector<WinEventLogRecord> list{WinEventLogRecord{}};
  std::int32_t count = -5;
};

TEST(EventTime, SecondsSince1970BecomeLocalDates) {
  EXPECT_DOUBLE_EQ(EventTimeToDate(0, 0), 25569.0);
  EXPECT_DOUBLE_EQ(EventTimeToDate(kDec1, 0), kDec1Date);
  EXPECT_DOUBLE_EQ(EventTimeToDate(kDec1 + kDay / 2, 0), kDec1Date + 0.5);
  // Central Europe in winter: Bias -60, one hour later than UTC.
  EXPECT_DOUBLE_EQ(EventTimeToDate(kDec1, -60), kDec1Date + 1.0 / 24);
}

TEST(EventTime, ZoneStateChoosesTheBias) {
  TIME_ZONE_INFORMATION zone = {};
  zone.Bias = 300;
  zone.StandardBias = 0;
  zone.DaylightBias = -60;
  EXPECT_EQ(TimeZoneCorrectionMinutes(TIME_ZONE_ID_DAYLIGHT, zone), 240);
  EXPECT_EQ(TimeZoneCorrectionMinutes(TIME_ZONE_ID_STANDARD, zone), 300);
  EXPECT_EQ(TimeZoneCorrectionMinutes(TIME_ZONE_ID_UNKNOWN, zone), 300);
}

TEST(ReadSize, AdaptsToHowLongAReadTook) {
  EXPECT_EQ(AdaptedRequestBytes(384, 0.1), 768u);
  EXPECT_EQ(AdaptedRequestBytes(2000, 0.75), 3024u);
  EXPECT_EQ(AdaptedRequestBytes(2000, 0.949), 3024u);
  EXPECT_EQ(AdaptedRequestBytes(2000, 0.95), 2000u);
  EXPECT_EQ(AdaptedRequestBytes(2000, 1.2), 2000u);
  EXPECT_EQ(AdaptedRequestBytes(2000, 1.21), 1488u);
  EXPECT_EQ(AdaptedRequestBytes(512, 5.0), 512u);
  EXPECT_EQ(AdaptedRequestBytes(kMaximumRequestBytes - 1, 0.1), kMaximumRequestBytes);
  EXPECT_EQ(BufferBytesFor(32768, 32768), 32768u);
  EXPECT_EQ(BufferBytesFor(32768, 32769), 36864u);
  EXPECT_EQ(BufferBytesFor(32768, 36864), 40960u);
}

TEST(CombSort, OrdersByTimeGeneratedBothWays) {
  std::vector<WinEventLogRecord> list;
  for (int i = 0; i < 300; ++i) {
    WinEventLogRecord record;
    record.RecordNumber = i + 1;
    record.TimeGenerated = static_cast<double>((i * 7919) % 1009);
    list.push_back(record);
  }
  const auto earlier = [](const auto& a, const auto& b) { return a.TimeGenerated < b.TimeGenerated; };
  SortByTimeGenerated(list, false);
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), earlier));
  SortByTimeGenerated(list, true);
  EXPECT_TRUE(std::is_sorted(list.rbegin(), list.rend(), earlier));
  std::vector<WinEventLogRecord> empty;
  SortByTimeGenerated(empty, false);
  EXPECT_TRUE(empty.empty());
}

TEST_F(EventReading, FiltersAcrossSeveralBatches) {
  FakeEventLog& fake = Use(MixedEvents(24));
  log.SetApplicationName("QUAX");
  ASSERT_TRUE(Read(-1, -1, -1, false)) << log.LastErrorMessage();
  EXPECT_EQ(count, 18);
  ASSERT_EQ(list.size(), 18u);
  EXPECT_GT(fake.Requests.size(), 4u);  // many records, a few per batch
  EXPECT_FALSE(fake.open);
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].RecordNumber, static_cast<std::int32_t>(i + 1));

  const WinEventLogRecord& first = list[0];
  EXPECT_DOUBLE_EQ(first.TimeGenerated, kDec1Date);
  EXPECT_DOUBLE_EQ(first.TimeWritten, kDec1Date);
  EXPECT_EQ(first.EventID, static_cast<std::int32_t>(0xE0000003));
  EXPECT_EQ(first.EventType, WINEVENTLOG_ERROR);
  EXPECT_EQ(first.EventCategory, 1);
  EXPECT_EQ(first.NumStrings, 2);
  EXPECT_EQ(first.StringList, (std::vector<std::string>{"event 0", "second"}));

  ASSERT_TRUE(Read(2, WINEVENTLOG_INFORMATION, 0x60000001, false));
  EXPECT_EQ(count, 4);  // events 1, 5, 13, 17: odd, informational, of QUAX
  for (const WinEventLogRecord& record : list) {
    EXPECT_EQ(record.EventCategory, 2);
    EXPECT_EQ(record.EventType, WINEVENTLOG_INFORMATION);
  }

  log.SetApplicationName("");
  ASSERT_TRUE(Read(-1, -1, -1, false));
  EXPECT_EQ(count, 24);
  log.SetApplicationName("Quax");  // the source must match exactly
  ASSERT_TRUE(Read(-1, -1, -1, false));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(list.empty());
}

TEST_F(EventReading, ReverseOrderStopsAtTheOldestDateNewestFirst) {
  std::vector<FakeEvent> events;
  for (DWORD day = 0; day < 6; ++day) {
    events.push_back({kDec1 + day * kDay + 60, kDec1 + day * kDay + 60, 0x60000001, EVENTLOG_INFORMATION_TYPE, 1,
                      "QUAX", {"day " + std::to_string(day)}});
  }
  FakeEventLog& fake = Use(events);
  // OldestDate late on 3 December: events of 3 December still count.
  ASSERT_TRUE(Read(-1, -1, -1, true, kDec1Date + 2.9));
  ASSERT_EQ(count, 4);
  EXPECT_TRUE(fake.backwards);
  EXPECT_EQ(list[0].StringList[0], "day 5");
  EXPECT_EQ(list[3].StringList[0], "day 2");
  EXPECT_EQ(list[0].RecordNumber, 1);
  EXPECT_EQ(list[3].RecordNumber, 4);
  // The stop ends the scan: its batch is reported, nothing more is read.
  ASSERT_FALSE(progress.Calls.empty());
  EXPECT_EQ(progress.Calls.back().Read, 5);
  EXPECT_EQ(progress.Calls.back().Matched, 4);
  EXPECT_EQ(progress.Calls.back().Total, 6);
  EXPECT_EQ(fake.Requests.size(), progress.Calls.size());
}

TEST_F(EventReading, ForwardsWithALaterOldestDateStopsAtTheFirstEvent) {
  Use(MixedEvents(5));
  EXPECT_TRUE(Read(-1, -1, -1, false, kDec1Date + 1));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(progress.Calls.size(), 1u);
  EXPECT_EQ(progress.Calls[0].Read, 1);
}

TEST_F(EventReading, ResultIsSortedByTimeGeneratedAndNumbersMoveWithTheirRecords) {
  // Written in this order, generated out of order.
  const DWORD generated[] = {30, 10, 40, 20};
  std::vector<FakeEvent> events;
  for (DWORD i = 0; i < 4; ++i) {
    events.push_back({kDec1 + generated[i], kDec1 + 100 + i, 1, EVENTLOG_WARNING_TYPE, 3, "QUAX",
                      {std::to_string(generated[i])}});
  }
  Use(events);
  ASSERT_TRUE(Read(-1, -1, -1, false));
  ASSERT_EQ(count, 4);
  const std::vector<std::pair<std::string, std::int32_t>> expected = {{"10", 2}, {"20", 4}, {"30", 1}, {"40", 3}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i].StringList[0], expected[i].first);
    EXPECT_EQ(list[i].RecordNumber, expected[i].second);
  }
  ASSERT_TRUE(Read(-1, -1, -1, true));
  ASSERT_EQ(count, 4);
  EXPECT_EQ(list[0].StringList[0], "40");
  EXPECT_EQ(list[0].RecordNumber, 2);  // second in reading order backwards
}

TEST_F(EventReading, RecordLargerThanTheRequestRaisesItAndGrowsTheBuffer) {
  std::vector<FakeEvent> events = MixedEvents(3);
  events[1].Strings = {std::string(40000, 'x')};
  FakeEventLog& fake = Use(events);
  ASSERT_TRUE(Read(-1, -1, -1, false)) << log.LastErrorMessage();
  ASSERT_EQ(count, 3);
  EXPECT_EQ(list[1].StringList[0].size(), 40000u);
  const auto big = static_cast<DWORD>(fake.records[1].size());
  // 384, too small; raised in 32-byte steps to the first size that holds it.
  ASSERT_GE(fake.Requests.size(), 3u);
  EXPECT_EQ(fake.Requests[0], 384u);
  EXPECT_EQ(fake.Requests[1], 384u);
  EXPECT_GE(fake.Requests[2], big);
  EXPECT_LT(fake.Requests[2], big + 32);
  EXPECT_EQ((fake.Requests[2] - 384) % 32, 0u);
}

TEST_F(EventReading, RequestGrowsWhileReadsAreFast) {
  FakeEventLog& fake = Use(MixedEvents(60));
  fake.ReadSeconds = 0.1;
  ASSERT_TRUE(Read(-1, -1, -1, false));
  EXPECT_EQ(count, 60);
  ASSERT_GE(fake.Requests.size(), 3u);
  EXPECT_EQ(fake.Requests[0], 384u);
  EXPECT_EQ(fake.Requests[1], 768u);
  EXPECT_EQ(fake.Requests[2], 1536u);
}

TEST_F(EventReading, BadStubDataHalvesTheRequestAndFreezesIt) {
  FakeEventLog& fake = Use(MixedEvents(60));
  fake.ReadSeconds = 0.1;
  fake.Answers = {ERROR_SUCCESS, ERROR_SUCCESS, RPC_X_BAD_STUB_DATA};
  ASSERT_TRUE(Read(-1, -1, -1, false)) << log.LastErrorMessage();
  EXPECT_EQ(count, 60);
  ASSERT_GE(fake.Requests.size(), 6u);
  EXPECT_EQ(fake.Requests[2], 1536u);
  EXPECT_EQ(fake.Requests[3], 768u);
  EXPECT_EQ(fake.Requests[4], 768u);
  EXPECT_EQ(fake.Requests.back(), 768u);
}

TEST_F(EventReading, BadStubDataAtTheSmallestRequestFails) {
  FakeEventLog& fake = Use(MixedEvents(3));
  fake.Answers = {RPC_X_BAD_STUB_DATA};
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(log.LastErrorMessage(), CSysMessage::GetMessage(RPC_X_BAD_STUB_DATA));
}

TEST_F(EventReading, BufferTooSmallTwiceFails) {
  FakeEventLog& fake = Use(MixedEvents(3));
  fake.Answers = {ERROR_INSUFFICIENT_BUFFER, ERROR_INSUFFICIENT_BUFFER};
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(log.LastErrorMessage(), CSysMessage::GetMessage(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(fake.Requests.size(), 2u);
}

TEST_F(EventReading, ReadFailureIsAddedToTheEarlierMessage) {
  FakeEventLog& fake = Use(MixedEvents(3));
  fake.Answers = {ERROR_ACCESS_DENIED};
  ASSERT_FALSE(log.LogStrings(1, WINEVENTLOG_ERROR, 3));  // leaves "There are no strings to log."
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(log.LastErrorMessage(), "There are no strings to log.; " + CSysMessage::GetMessage(ERROR_ACCESS_DENIED));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(fake.open);
}

TEST_F(EventReading, UnreachableMachineIsNamed) {
  FakeEventLog& fake = Use(MixedEvents(3));
  fake.OpenError = RPC_S_SERVER_UNAVAILABLE;
  log.SetMachineName("\\\\SERVER1");
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(fake.openedMachine, "\\\\SERVER1");
  EXPECT_EQ(log.LastErrorMessage(),
            "The event log on machine '\\\\SERVER1' is not available. The machine may be offline.");
  fake.OpenError = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(log.LastErrorMessage(), CSysMessage::GetMessage(ERROR_ACCESS_DENIED));
}

TEST_F(EventReading, CancelInTheFirstProgressEndsTheScan) {
  FakeEventLog& fake = Use(MixedEvents(24));
  progress.CancelAt = 1;
  EXPECT_FALSE(Read(-1, -1, -1, false));
  EXPECT_EQ(log.LastErrorMessage(), "User cancelled scan of event log.");
  EXPECT_EQ(fake.Requests.size(), 1u);
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(progress.Calls.size(), 1u);
  EXPECT_GT(progress.Calls[0].Read, 0);
  EXPECT_EQ(progress.Calls[0].Total, 24);
}

TEST(EventBatch, TornOrLyingRecordsAreNotReadPastTheirBytes) {
  std::string batch = RecordBytes({kDec1, kDec1, 1, EVENTLOG_INFORMATION_TYPE, 1, "QUAX", {"whole"}}, 1);
  std::string lying = RecordBytes({kDec1, kDec1, 2, EVENTLOG_INFORMATION_TYPE, 1, "QUAX", {"a", "b"}}, 2);
  // Claims five strings where two are, and a string offset near its end.
  EVENTLOGRECORD header;
  std::memcpy(&header, lying.data(), sizeof header);
  header.NumStrings = 5;
  std::memcpy(lying.data(), &header, sizeof header);
  batch += lying;
  std::string torn = RecordBytes({kDec1, kDec1, 3, EVENTLOG_INFORMATION_TYPE, 1, "QUAX", {"torn"}}, 3);
  batch += torn.substr(0, torn.size() - 8);

  std::vector<WinEventLogRecord> matches;
  const BatchResult result = ScanEventBatch(batch, EventFilter{}, matches);
  EXPECT_EQ(result.RecordsRead, 2);
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(matches[0].StringList, std::vector<std::string>{"whole"});
  // The two real strings, then the padding and closing length read as texts,
  // never beyond the record.
  ASSERT_GE(matches[1].StringList.size(), 2u);
  EXPECT_EQ(matches[1].StringList[0], "a");
  EXPECT_EQ(matches[1].StringList[1], "b");
  EXPECT_EQ(matches[1].NumStrings, static_cast<std::int16_t>(matches[1].StringList.size()));
}

// ---- CQuaxEventLog -------------------------------------------------------

class QuaxEventReading : public ::testing::Test {
 protected:
  FakeEventLog& Use(std::vector<FakeEvent> events) {
    auto fake = std::make_unique<FakeEventLog>(std::move(events));
    FakeEventLog& reference = *fake;
    log.SetEventLogReader(std::move(fake));
    return reference;
  }
  CQuaxEventLog log;
  std::vector<WinEventLogRecord> list;
  std::int32_t count = 0;
};

TEST_F(QuaxEventReading, SeverityReadsFilterTypeAndIdentifier) {
  std::vector<FakeEvent> events = {
      {kDec1, kDec1, 0xE0000003, EVENTLOG_ERROR_TYPE, 2, "QUAX", {"error"}},
      {kDec1, kDec1, 0xA0000002, EVENTLOG_WARNING_TYPE, 2, "QUAX", {"warning"}},
      {kDec1, kDec1, 0x60000001, EVENTLOG_INFORMATION_TYPE, 2, "QUAX", {"information"}},
      {kDec1, kDec1, 0x00000003, EVENTLOG_ERROR_TYPE, 2, "QUAX", {"plain error"}},
      {kDec1, kDec1, 0xE0000003, EVENTLOG_ERROR_TYPE, 2, "QUAXWinProcess", {"other source"}},
  };
  Use(events);
  ASSERT_TRUE(log.ReadErrorEvents(-1, false, -657434, list, count));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0].StringList[0], "error");
  ASSERT_TRUE(log.ReadWarningEvents(-1, false, -657434, list, count));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0].StringList[0], "warning");
  ASSERT_TRUE(log.ReadInformationEvents(2, false, -657434, list, count));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0].StringList[0], "information");
  ASSERT_TRUE(log.ReadInformationEvents(1, false, -657434, list, count));
  EXPECT_EQ(count, 0);
}

TEST_F(QuaxEventReading, AllEventsHaveTheirIdentifiersReducedToTheCode) {
  std::vector<FakeEvent> events = {
      {kDec1, kDec1, 0xE0000003, EVENTLOG_ERROR_TYPE, 2, "QUAX", {"e"}},
      {kDec1 + 1, kDec1, 0xA0000002, EVENTLOG_WARNING_TYPE, 2, "QUAX", {"w"}},
      {kDec1 + 2, kDec1, 0x60000001, EVENTLOG_INFORMATION_TYPE, 2, "QUAX", {"i"}},
      {kDec1 + 3, kDec1, 0xE0000007, EVENTLOG_AUDIT_SUCCESS, 2, "QUAX", {"a"}},
  };
  Use(events);
  ASSERT_TRUE(log.ReadAllEvents(-1, false, -657434, list, count));
  ASSERT_EQ(count, 4);
  EXPECT_EQ(list[0].EventID, 3);
  EXPECT_EQ(list[1].EventID, 2);
  EXPECT_EQ(list[2].EventID, 1);
  EXPECT_EQ(list[3].EventID, static_cast<std::int32_t>(0xE0000007));
}

TEST_F(QuaxEventReading, ProgressAndCancellationPassThrough) {
  Use(MixedEvents(10));
  Progress progress;
  progress.CancelAt = 1;
  log.SetReadProgressListener(&progress);
  EXPECT_FALSE(log.ReadAllEvents(-1, false, -657434, list, count));
  EXPECT_EQ(log.LastErrorMessage(), "User cancelled scan of event log.");
  EXPECT_EQ(progress.Calls.size(), 1u);
}

// ---- Writing -------------------------------------------------------------

TEST(EventWriting, PendingStringsAreJoinedIntoOneInsertionString) {
  CapturedEvents events;
  CWinEventLog log;
  log.SetApplicationName("QUAXTest");
  log.AddString("a");
  log.AddString("b");
  ASSERT_TRUE(log.LogStrings(3, WINEVENTLOG_WARNING, 0x123));
  ASSERT_TRUE(log.LogStrings(1, WINEVENTLOG_INFORMATION, 7));  // the strings stay
  ASSERT_EQ(events.Events().size(), 2u);
  const test::CapturedEvent event = events.Events()[0];
  EXPECT_EQ(event.Source, "QUAXTest");
  EXPECT_EQ(event.Type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(event.Category, 3);
  EXPECT_EQ(event.EventId, 0x123u);
  EXPECT_EQ(event.Strings, std::vector<std::string>{"a\r\nb"});

  log.ClearStrings();
  EXPECT_FALSE(log.LogStrings(1, WINEVENTLOG_INFORMATION, 7));
  EXPECT_EQ(log.LastErrorMessage(), "There are no strings to log.");
  EXPECT_FALSE(log.LogEvent("", 1, WINEVENTLOG_INFORMATION, 7));
  EXPECT_EQ(log.LastErrorMessage(), "The message string is empty.");
  ASSERT_TRUE(log.LogEvent("single", 1, WINEVENTLOG_INFORMATION, 7));
  EXPECT_EQ(events.Events().back().Strings, std::vector<std::string>{"single"});
  // Success leaves the earlier message.
  EXPECT_EQ(log.LastErrorMessage(), "The message string is empty.");
  EXPECT_EQ(events.Events().size(), 3u);
}

TEST(EventWriting, FailuresNameTheStepThatFailed) {
  CapturedEvents events;
  CWinEventLog log;
  log.SetApplicationName("QUAXTest");
  log.AddString("text");
  events.AnswerWith({EventWriteFailure::RegisterSource, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(log.LogStrings(1, WINEVENTLOG_ERROR, 3));
  EXPECT_EQ(log.LastErrorMessage(), "Unable to open event source: " + CSysMessage::GetMessage(ERROR_ACCESS_DENIED));
  events.AnswerWith({EventWriteFailure::ReportEvent, ERROR_INVALID_DATA});
  EXPECT_FALSE(log.LogStrings(1, WINEVENTLOG_ERROR, 3));
  EXPECT_EQ(log.LastErrorMessage(), "Error #D: " + CSysMessage::GetMessage(ERROR_INVALID_DATA));
  EXPECT_FALSE(log.LogEvent("text", 1, WINEVENTLOG_ERROR, 3));
  EXPECT_EQ(log.LastErrorMessage(), CSysMessage::GetMessage(ERROR_INVALID_DATA));
}

TEST(EventWriting, CategoryBeyondSixteenBitsIsRefused) {
  CapturedEvents events;
  CWinEventLog log;
  EXPECT_FALSE(log.LogEvent("text", 0x10000, WINEVENTLOG_ERROR, 3));
  EXPECT_EQ(log.LastErrorMessage(), "Error #87: " + CSysMessage::GetMessage(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(events.Events().empty());
}

TEST(EventWriting, QuaxSeveritiesUseTheirTypeAndIdentifier) {
  CapturedEvents events;
  CQuaxEventLog log;
  log.AddString("run ended");
  ASSERT_TRUE(log.WriteInformationEvent(EQuaxCategoryType_Reporting));
  ASSERT_TRUE(log.WriteWarningEvent(EQuaxCategoryType_Processing));
  ASSERT_TRUE(log.WriteErrorEvent(EQuaxCategoryType_Administration));
  ASSERT_EQ(events.Events().size(), 3u);
  EXPECT_EQ(events.Events()[0].Source, "QUAX");
  EXPECT_EQ(events.Events()[0].Type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(events.Events()[0].EventId, 0x60000001u);
  EXPECT_EQ(events.Events()[0].Category, 3);
  EXPECT_EQ(events.Events()[1].Type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(events.Events()[1].EventId, 0xA0000002u);
  EXPECT_EQ(events.Events()[2].Type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events.Events()[2].EventId, 0xE0000003u);
  EXPECT_EQ(events.Events()[2].Strings, std::vector<std::string>{"run ended"});
  log.Clear();
  EXPECT_FALSE(log.WriteErrorEvent(EQuaxCategoryType_Administration));
  EXPECT_EQ(log.LastErrorMessage(), "There are no strings to log.");
}

TEST(EventWriting, RealEventSourceAcceptsTheEvent) {
  // Wine stores nothing, but registering the source and reporting succeed
  // there as on Windows.
  CQuaxEventLog log;
  log.AddString("aggregation test event");
  EXPECT_TRUE(log.WriteInformationEvent(EQuaxCategoryType_Processing)) << log.LastErrorMessage();
}

TEST(EventReadingOnWine, TheRealLogEndsAtOnce) {
  // Wine keeps no event log: ReadEventLogA reports the end straight away.
  CWinEventLog log;
  std::vector<WinEventLogRecord> list;
  std::int32_t count = -1;
  EXPECT_TRUE(log.ReadEvents(-1, -1, -1, false, -657434, list, count)) << log.LastErrorMessage();
  EXPECT_EQ(count, 0);
}

// ---- Registration of message files (the real registry) ------------------

constexpr char kSourcesKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

class MessageFileRegistration : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kSourcesKey) + source).c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kSourcesKey) + "QUAX").c_str());
  }

  RegData Stored(const std::string& name, const char* valueName) {
    CRegValue value;
    value.SetSubKey(kSourcesKey + name);
    value.SetValueName(valueName);
    value.Refresh();
    return value.Value();
  }

  const std::string source = "QUAXTest-" + std::to_string(GetCurrentProcessId());
};

TEST_F(MessageFileRegistration, WritesTheFileAndCountValues) {
  CWinEventLog log;
  log.SetApplicationName(source);
  ASSERT_TRUE(log.RegisterCategoryMessageFile("%SystemRoot%\\cats.dll", 4)) << log.LastErrorMessage();
  ASSERT_TRUE(log.RegisterEventMessageFile("%SystemRoot%\\events.dll", 7)) << log.LastErrorMessage();
  EXPECT_EQ(Stored(source, "CategoryMessageFile"), RegData(std::string("%SystemRoot%\\cats.dll")));
  EXPECT_EQ(Stored(source, "CategoryCount"), RegData(std::uint32_t{4}));
  EXPECT_EQ(Stored(source, "TypesSupported"), RegData(std::uint32_t{7}));

  char systemRoot[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot), 0u);
  EXPECT_EQ(log.EventMessageFile(), std::string(systemRoot) + "\\events.dll");
}

TEST_F(MessageFileRegistration, NeedsAnApplicationName) {
  CWinEventLog log;
  EXPECT_FALSE(log.RegisterEventMessageFile("x.dll", 7));
  EXPECT_EQ(log.LastErrorMessage(), "Application name not specified.");
  EXPECT_FALSE(log.RegisterCategoryMessageFile("x.dll", 4));
  EXPECT_EQ(log.EventMessageFile(), "");
  EXPECT_EQ(log.LastErrorMessage(), "Application name not specified.");
}

TEST_F(MessageFileRegistration, UnwritableKeyNamesTheSubKey) {
  CWinEventLog log;
  log.SetApplicationName(source);
  log.SetMachineName("\\\\QUAXNOSUCHMACHINE");
  EXPECT_FALSE(log.RegisterCategoryMessageFile("cats.dll", 4));
  EXPECT_EQ(log.LastErrorMessage(), "Unable to update the CategoryFile registry entry; SubKey='" +
                                        std::string(kSourcesKey) + source + "\\'");
  EXPECT_FALSE(log.RegisterEventMessageFile("events.dll", 7));
  EXPECT_EQ(log.LastErrorMessage(), "Unable to update the EventMessageFile registry entry; SubKey='" +
                                        std::string(kSourcesKey) + source + "\\'");
}

TEST_F(MessageFileRegistration, QuaxFilesAreRegisteredInTheirFolder) {
  CQuaxEventLog log;
  ASSERT_TRUE(log.RegisterMessageFiles("C:\\App")) << log.LastErrorMessage();
  EXPECT_EQ(Stored("QUAX", "CategoryMessageFile"), RegData(std::string("C:\\App\\QuaxCategoryMsgs.dll")));
  EXPECT_EQ(Stored("QUAX", "EventMessageFile"), RegData(std::string("C:\\App\\QuaxEventMsgs.dll")));
  EXPECT_EQ(Stored("QUAX", "CategoryCount"), RegData(std::uint32_t{4}));
  EXPECT_EQ(Stored("QUAX", "TypesSupported"), RegData(std::uint32_t{7}));
  EXPECT_EQ(log.MessageFilePath(), "C:\\App\\");
  ASSERT_TRUE(log.RegisterMessageFiles("D:\\Quax\\"));
  EXPECT_EQ(Stored("QUAX", "EventMessageFile"), RegData(std::string("D:\\Quax\\QuaxEventMsgs.dll")));
}

}  // namespace
}  // namespace quax
