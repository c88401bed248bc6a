#include "telemetry/Statistics.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "telemetry/StatClock.h"
#include "telemetry/StatDays.h"

namespace telemetry {
namespace {

// A test zone one hour east of UTC, two hours during its summer time
// (last Sunday of March 01:00 UTC to last Sunday of October 01:00 UTC).
std::int64_t g_now = 0;

std::int64_t UtcSeconds(int y, int m, int d, int hour, int minute) {
  CivilDate date;
  date.year = y;
  date.month = m;
  date.day = d;
  return DaysFromCivil(date) * 86400 + hour * 3600 + minute * 60;
}

std::int64_t LastSundayUtc(int year, int month) {
  CivilDate last;
  last.year = year;
  last.month = month;
  last.day = 31;
  const std::int64_t days = DaysFromCivil(last);
  const std::int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday (4); 0 is Sunday
  return (days - weekday) * 86400 + 3600;
}

std::int64_t OffsetAt(std::int64_t utc) {
  const int year = CivilFromSeconds(utc).year;
  const bool summer = utc >= LastSundayUtc(year, 3) && utc < LastSundayUtc(year, 10);
  return summer ? 7200 : 3600;
}

std::int64_t FakeNow() { return g_now; }
bool FakeLocalDate(std::int64_t seconds, CivilDate* out) {
  *out = CivilFromSeconds(seconds + OffsetAt(seconds));
  return true;
}
CivilDate FakeUtcToday() { return CivilFromSeconds(g_now); }
const StatClock kFakeClock = {FakeNow, FakeLocalDate, FakeUtcToday};

// Sets the clock to a local wall time of the test zone.
void SetLocalNow(int y, int m, int d, int hour, int minute) {
  const std::int64_t guess = UtcSeconds(y, m, d, hour, minute) - 3600;
  g_now = UtcSeconds(y, m, d, hour, minute) - OffsetAt(guess);
}

class StatisticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = folder_ / L"Statistic.ini";
    ASSERT_TRUE(SetStatisticsFile(file_.c_str()));
    SetStatClock(&kFakeClock);
    ResetPreviousVisitCache();
  }
  void TearDown() override {
    SetStatisticsFile(nullptr);
    SetStatClock(nullptr);
    ResetPreviousVisitCache();
  }
  std::wstring Value(const wchar_t* key) {
    wchar_t text[64] = {};
    ::GetPrivateProfileStringW(L"Tavrel", key, L"<none>", text, 64, file_.c_str());
    return text;
  }
  void Put(const wchar_t* key, const wchar_t* value) {
    ASSERT_TRUE(::WritePrivateProfileStringW(L"Tavrel", key, value, file_.c_str()));
  }
  // A new launcher run: the previous-visit cache starts empty.
  void NewRun() { ResetPreviousVisitCache(); }
  // The activity run's calls, in the launcher's order: 6, 5, 4, 3.
  struct Activity {
    std::int64_t weekdays, keepdays, apartdays, count;
  };
  Activity RunActivity() {
    Activity a;
    a.weekdays = RecordStatistic(StatWeekDays);
    a.keepdays = RecordStatistic(StatKeepDays);
    a.apartdays = RecordStatistic(StatApartDays);
    a.count = RecordStatistic(StatGame);
    return a;
  }

  testing_support::ScratchFolder folder_;
  std::wstring file_;
};

TEST_F(StatisticsTest, FirstUseWritesEveryFigureWithItsClock) {
  // 23:30 UTC on 5 January is already 6 January in the test zone.
  g_now = UtcSeconds(2027, 1, 5, 23, 30);
  EXPECT_EQ(1, RecordStatistic(StatInst));
  EXPECT_EQ(L"1", Value(L"Inst"));
  EXPECT_EQ(L"20270105", Value(L"installDay"));
  const Activity a = RunActivity();
  EXPECT_EQ(1, a.weekdays);
  EXPECT_EQ(1, a.keepdays);
  EXPECT_EQ(0, a.apartdays);
  EXPECT_EQ(1, a.count);
  EXPECT_EQ(L"1", Value(L"weekdays"));
  EXPECT_EQ(L"1", Value(L"keepdays"));
  EXPECT_EQ(L"2027/1/6", Value(L"lstTime"));
  EXPECT_EQ(L"1", Value(L"Game"));

  std::string raw;
  ASSERT_TRUE(testing_support::ReadFileBytes(file_, &raw));
  EXPECT_NE(std::string::npos, raw.find("[Tavrel]"));
  EXPECT_NE(std::string::npos, raw.find("lstTime=2027/1/6"));
  EXPECT_NE(std::string::npos, raw.find("installDay=20270105"));

  // A second run on the same day changes no day figure.
  NewRun();
  SetLocalNow(2027, 1, 6, 20, 0);
  const Activity again = RunActivity();
  EXPECT_EQ(1, again.weekdays);
  EXPECT_EQ(1, again.keepdays);
  EXPECT_EQ(0, again.apartdays);
  EXPECT_EQ(2, again.count);
  EXPECT_EQ(L"1", Value(L"weekdays"));
}

TEST_F(StatisticsTest, InstallDayPadsTheUtcDate) {
  g_now = UtcSeconds(2027, 3, 4, 12, 0);
  EXPECT_EQ(1, RecordStatistic(StatInst));
  EXPECT_EQ(2, RecordStatistic(StatInst));
  EXPECT_EQ(L"20270304", Value(L"installDay"));
  EXPECT_EQ(L"2", Value(L"Inst"));
}

struct DayCase {
  const char* name;
  const wchar_t* lstTime;
  const wchar_t* weekdays;   // stored mask
  int y, m, d, hour;          // local now
  std::int64_t weekCount, keepDays, apartDays;
  const wchar_t* storedMask;  // after the run
  const wchar_t* storedVisit;
};

TEST_F(StatisticsTest, DayFiguresAgainstThePreviousVisit) {
  const DayCase cases[] = {
      {"next day", L"2027/1/4", L"1", 2027, 1, 5, 10, 2, 4, 0, L"3", L"2027/1/5"},
      {"three days", L"2027/1/2", L"127", 2027, 1, 5, 10, 5, 1, 2, L"121", L"2027/1/5"},
      {"ten days", L"2026/12/26", L"127", 2027, 1, 5, 10, 1, 1, 9, L"1", L"2027/1/5"},
      {"forty days", L"2026/11/26", L"85", 2027, 1, 5, 10, 1, 1, 39, L"1", L"2027/1/5"},
      {"year end", L"2026/12/31", L"1", 2027, 1, 1, 0, 2, 4, 0, L"3", L"2027/1/1"},
      {"31 February is 3 March", L"2027/2/31", L"1", 2027, 3, 4, 10, 2, 4, 0, L"3", L"2027/3/4"},
      {"leap year: 31 February is 2 March", L"2028/2/31", L"1", 2028, 3, 3, 10, 2, 4, 0, L"3", L"2028/3/3"},
      {"future date", L"2027/1/6", L"127", 2027, 1, 5, 10, 1, 4, 0, L"1", L"2027/1/5"},
      // Spring forward on 28 March between the visits: still two calendar
      // days, at any hour.
      {"across summer time", L"2027/3/27", L"1", 2027, 3, 29, 0, 2, 1, 1, L"5", L"2027/3/29"},
      {"across winter time", L"2027/10/30", L"1", 2027, 11, 1, 23, 2, 1, 1, L"5", L"2027/11/1"},
      {"same day", L"2027/1/5", L"5", 2027, 1, 5, 23, 2, 3, 0, L"5", L"2027/1/5"},
      {"stored mask 200", L"2027/1/5", L"200", 2027, 1, 5, 9, 1, 3, 0, L"1", L"2027/1/5"},
      {"stored mask 128", L"2027/1/5", L"128", 2027, 1, 5, 9, 1, 3, 0, L"1", L"2027/1/5"},
      {"negative mask", L"2027/1/5", L"-3", 2027, 1, 5, 9, 1, 3, 0, L"1", L"2027/1/5"},
      // Texts that are no date count as today.
      {"one slash", L"2027/1", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"no date", L"0", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"year too small", L"1969/5/5", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"year too large", L"3001/1/1", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"month 13", L"2027/13/1", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"month 0", L"2027/0/1", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"day 32", L"2027/1/32", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"day 0", L"2027/1/0", L"3", 2027, 1, 5, 9, 2, 3, 0, L"3", L"2027/1/5"},
      {"middle slash ignored", L"2027/1/x/4", L"1", 2027, 1, 5, 9, 2, 4, 0, L"3", L"2027/1/5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::DeleteFileW(file_.c_str());
    Put(L"lstTime", c.lstTime);
    Put(L"weekdays", c.weekdays);
    Put(L"keepdays", L"3");
    NewRun();
    SetLocalNow(c.y, c.m, c.d, c.hour, 30);
    const Activity a = RunActivity();
    EXPECT_EQ(c.weekCount, a.weekdays);
    EXPECT_EQ(c.keepDays, a.keepdays);
    EXPECT_EQ(c.apartDays, a.apartdays);
    EXPECT_EQ(c.storedMask, Value(L"weekdays"));
    EXPECT_EQ(c.storedVisit, Value(L"lstTime"));
    EXPECT_EQ(std::to_wstring(c.keepDays), Value(L"keepdays"));
  }
}

TEST_F(StatisticsTest, TodayFollowsSummerTime) {
  // 22:30 UTC on 1 July is 00:30 on 2 July in summer time (UTC+2), but
  // 23:30 on 1 January in winter (UTC+1).
  g_now = UtcSeconds(2027, 7, 1, 22, 30);
  RecordStatistic(StatApartDays);
  EXPECT_EQ(L"2027/7/2", Value(L"lstTime"));
  NewRun();
  g_now = UtcSeconds(2027, 1, 1, 22, 30);
  RecordStatistic(StatApartDays);
  EXPECT_EQ(L"2027/1/1", Value(L"lstTime"));
}

// A negative "keepdays" was never written by the store: it reads as the
// missing value 1, so no ping carries a negative streak.
TEST_F(StatisticsTest, NegativeKeepDaysCountAsMissing) {
  const struct {
    const wchar_t* lstTime;
    std::int64_t keepDays;
  } cases[] = {{L"2027/1/5", 1}, {L"2027/1/4", 2}, {L"2027/1/6", 2}};
  for (const auto& c : cases) {
    Put(L"lstTime", c.lstTime);
    Put(L"keepdays", L"-5");
    NewRun();
    SetLocalNow(2027, 1, 5, 12, 0);
    EXPECT_EQ(c.keepDays, RecordStatistic(StatKeepDays)) << c.lstTime;
    EXPECT_EQ(std::to_wstring(c.keepDays), Value(L"keepdays"));
  }
}

TEST_F(StatisticsTest, OneRunMeasuresAgainstTheDateOnDiskAtItsStart) {
  Put(L"lstTime", L"2027/1/2");
  Put(L"keepdays", L"6");
  SetLocalNow(2027, 1, 5, 12, 0);
  EXPECT_EQ(1, RecordStatistic(StatKeepDays));
  EXPECT_EQ(L"2027/1/5", Value(L"lstTime"));
  EXPECT_EQ(2, RecordStatistic(StatApartDays));  // still against 2027/1/2
  // An empty value is read again by the next day-based call.
  NewRun();
  Put(L"lstTime", L"");
  EXPECT_EQ(0, RecordStatistic(StatApartDays));
  Put(L"lstTime", L"2027/1/1");
  EXPECT_EQ(3, RecordStatistic(StatApartDays));
}

TEST_F(StatisticsTest, Counters) {
  struct {
    const wchar_t* stored;
    std::int64_t next;
  } const cases[] = {
      {L"12abc", 13}, {L"abc", 1},  {L"  7", 8},  {L"+41", 42},
      {L"2147483646", 2147483647}, {L"2147483647", 2147483647}, {L"99999999999", 2147483647},
      // A negative counter was never written by the store: it counts as missing.
      {L"-5", 1}, {L"-99999999999", 1},
  };
  const struct {
    int type;
    const wchar_t* key;
  } counters[] = {{StatInst, L"Inst"}, {StatUnInst, L"UnInst"}, {StatGame, L"Game"}, {StatUpdate, L"Update"}};
  g_now = UtcSeconds(2027, 1, 5, 12, 0);
  for (const auto& counter : counters) {
    for (const auto& c : cases) {
      Put(counter.key, c.stored);
      EXPECT_EQ(c.next, RecordStatistic(counter.type)) << counter.key << "=" << c.stored;
      EXPECT_EQ(std::to_wstring(c.next), Value(counter.key));
    }
  }
}

TEST_F(StatisticsTest, UnknownTypeTouchesNothing) {
  EXPECT_EQ(0, RecordStatistic(8));
  EXPECT_EQ(0, RecordStatistic(0));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(file_.c_str()));
}

TEST_F(StatisticsTest, MissingFolderGivesFirstUseFigures) {
  const std::wstring lost = folder_ / L"no\\such\\folder\\Statistic.ini";
  ASSERT_TRUE(SetStatisticsFile(lost.c_str()));
  g_now = UtcSeconds(2027, 1, 5, 12, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(1, RecordStatistic(StatInst));
    EXPECT_EQ(1, RecordStatistic(StatUpdate));
    const Activity a = RunActivity();
    EXPECT_EQ(1, a.weekdays);
    EXPECT_EQ(1, a.keepdays);
    EXPECT_EQ(0, a.apartdays);
    EXPECT_EQ(1, a.count);
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((folder_ / L"no").c_str()));
}

TEST(StatisticsSystemClock, FirstUseOnTheRealClock) {
  testing_support::ScratchFolder folder;
  const std::wstring file = folder / L"Statistic.ini";
  ASSERT_TRUE(SetStatisticsFile(file.c_str()));
  ResetPreviousVisitCache();
  EXPECT_EQ(1, RecordStatistic(StatWeekDays));
  EXPECT_EQ(1, RecordStatistic(StatKeepDays));
  EXPECT_EQ(0, RecordStatistic(StatApartDays));
  wchar_t text[32] = {};
  ::GetPrivateProfileStringW(L"Tavrel", L"lstTime", L"", text, 32, file.c_str());
  CivilDate today;
  ASSERT_TRUE(SystemStatClock().localDate(SystemStatClock().secondsNow(), &today));
  EXPECT_EQ(std::to_wstring(today.year) + L"/" + std::to_wstring(today.month) + L"/" + std::to_wstring(today.day),
            std::wstring(text));
  SetStatisticsFile(nullptr);
  ResetPreviousVisitCache();
}

}  // namespace
}  // namespace telemetry
