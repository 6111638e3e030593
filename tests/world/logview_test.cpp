// Reading the module's log as a stream (pieces of any size give the same lines; cut, damaged and
// over-long lines are counted), its clock (lines out of order, a clock set back, New Year), job
// stretches and durations (a restart's gap in no job, an abort's sequence in its job), the same
// figures with and without detail, and the page written whole or not at all.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "logview/job_summary.h"
#include "logview/log_reader.h"
#include "logview/timeline_page.h"

namespace {

using logview::ClockJump;
using logview::LogLine;

// "03/02 08:00:00:000  text\r\n"; `stamp` is "hh:mm:ss:mmm", or "MM/DD hh:mm:ss:mmm".
std::string L(const std::string& stamp, const std::string& text) {
    return (stamp.size() == 12 ? "03/02 " + stamp : stamp) + "  " + text + "\r\n";
}

std::vector<int64_t> times(const logview::LogText& t) {
    std::vector<int64_t> out;
    for (const LogLine& l : t.lines) out.push_back(l.ms - t.lines.front().ms);
    return out;
}

TEST(LogReader, PiecesOfAnySizeGiveTheSameLinesAndCounts) {
    const std::string text = L("08:00:00:000", "one") + "garbage\r\n" + "\r\n" + L("08:00:01:000", "two") +
                             L("08:00:02:000", std::string(5000, 'x')) + L("08:00:03:000", "three") + "03/02 08:0";
    const logview::LogText whole = logview::read_log(text);
    logview::LogText pieces;
    logview::LogReader reader([&](const LogLine& l) { pieces.lines.push_back(l); });
    for (char c : text) reader.feed(&c, 1);
    reader.finish();
    pieces.info = reader.info();

    ASSERT_EQ(whole.lines.size(), 4u);
    EXPECT_EQ(whole.lines[1].text, "two");
    EXPECT_EQ(whole.lines[1].number, 4u);
    EXPECT_EQ(whole.lines[2].text.size(), logview::kMaxLineBytes - 20);  // kept up to the bound
    EXPECT_EQ(whole.lines[3].text, "three");
    EXPECT_EQ(whole.info.total_lines, 7u);
    EXPECT_EQ(whole.info.unparseable, 1u);
    EXPECT_EQ(whole.info.truncated, 1u);
    EXPECT_EQ(whole.info.long_lines, 1u);
    EXPECT_EQ(whole.info.bytes, text.size());
    ASSERT_EQ(pieces.lines.size(), whole.lines.size());
    for (size_t i = 0; i < whole.lines.size(); ++i) {
        EXPECT_EQ(pieces.lines[i].text, whole.lines[i].text);
        EXPECT_EQ(pieces.lines[i].ms, whole.lines[i].ms);
    }
    EXPECT_EQ(pieces.info.total_lines, whole.info.total_lines);
    EXPECT_EQ(pieces.info.long_lines, whole.info.long_lines);
}

TEST(LogReader, ALineOutOfOrderOrAClockSetBackAddsNoTimeAndIsReported) {
    struct Case {
        const char* name;
        std::vector<std::string> stamps;
        std::vector<int64_t> ms;  // from the first line
        ClockJump::Kind kind;
        size_t line, other;
        int64_t by;
    };
    const Case cases[] = {
        {"early", {"08:00:00:000", "08:00:10:000", "07:00:10:000", "08:00:11:000"}, {0, 10000, 10000, 11000},
         ClockJump::Early, 3, 2, 3600000},
        {"late", {"08:00:00:000", "09:00:05:000", "08:00:06:000", "08:00:07:000"}, {0, 0, 6000, 7000},
         ClockJump::Late, 2, 3, 3599000},
        {"set back", {"08:00:00:000", "08:00:10:000", "07:00:00:000", "07:00:05:000"}, {0, 10000, 10000, 15000},
         ClockJump::SetBack, 3, 2, 3610000},
        {"early at the end", {"08:00:00:000", "08:00:10:000", "08:00:20:000", "08:00:04:500"}, {0, 10000, 20000, 20000},
         ClockJump::Early, 4, 3, 15500},
    };
    for (const Case& c : cases) {
        std::string text;
        for (const std::string& s : c.stamps) text += L(s, "x");
        const logview::LogText t = logview::read_log(text);
        EXPECT_EQ(times(t), c.ms) << c.name;
        ASSERT_EQ(t.info.clock_jumps, 1u) << c.name;
        EXPECT_EQ(t.info.jumps[0].kind, c.kind) << c.name;
        EXPECT_EQ(t.info.jumps[0].line, c.line) << c.name;
        EXPECT_EQ(t.info.jumps[0].other, c.other) << c.name;
        EXPECT_EQ(t.info.jumps[0].ms, c.by) << c.name;
    }
    // New Year is no jump: the clock steps on into the next year.
    const logview::LogText ny = logview::read_log(L("12/31 23:59:59:000", "a") + L("01/01 00:00:01:000", "b"));
    EXPECT_EQ(times(ny), (std::vector<int64_t>{0, 2000}));
    EXPECT_EQ(ny.info.clock_jumps, 0u);
}

// A module session: its start-up at `hour` o'clock on 03/02, one job of one disc taken
// from input bin 4 to recorder A and on to output bin 3, ended (code 2) or aborted (code 3), or
// the same disc moved outside a job (code 0); the module ends at 40 minutes past.
std::string session(int hour, int code) {
    auto at = [&](int minute, int second) {
        char s[16];
        std::snprintf(s, sizeof s, "%02d:%02d:%02d:000", hour, minute, second);
        return std::string(s);
    };
    std::string t = L(at(0, 0), "Rovane_b.ini path: C:\\x\\ROVANE_QIX.INI") + L(at(0, 0), "********************* RovaneInit ****");
    if (code) t += L(at(0, 1), "JobBeginsOrEnds 1   dwHowMany=1") + L(at(0, 2), "JobBeginsOrEnds returning OK");
    t += L(at(0, 2), "-->SendQueueThread() called");
    auto move = [&](int minute, char to, bool pick, bool bare) {
        t += L(at(minute, 0), std::string("Next GLOBAL CMD = _MOVE:") + (bare ? "" : std::string(1, to)) + "   bIndex=0");
        t += L(at(minute, 0), std::string(">>Sent CMD = _MOVE:") + to);
        t += L(at(minute, 10), "-->POSTCommandProcess()");
        t += L(at(minute, 20), pick ? "Disc PICKED UP successfully" : "Disc DROPPED OFF successfully");
        t += L(at(minute, 20), std::string("RoboStatus.bCurrentPosition=") + to + "  g_bCurrentPosition=" + to);
    };
    move(1, '4', true, true);
    move(2, 'A', false, false);
    move(6, 'A', true, false);
    move(7, '3', false, false);
    if (code == 0) {
        t += L(at(8, 0), "SendQueueThread() RETURNING-->");
    } else if (code == 2) {
        t += L(at(8, 0), "SendQueueThread() RETURNING-->") + L(at(9, 0), "JobBeginsOrEnds 2   dwHowMany=1") +
             L(at(9, 30), "JobBeginsOrEnds returning OK");
    } else {
        t += L(at(9, 0), "JobBeginsOrEnds 3   dwHowMany=1") + L(at(9, 0), "JobBeginsOrEnds returning OK") +
             L(at(9, 5), "->AbortJob()") + L(at(9, 20), "<-AbortJob() exiting") +
             L(at(9, 30), "SendQueueThread() RETURNING-->");
    }
    return t + L(at(40, 0), "********************* RovaneEnd ****");
}

TEST(JobSummary, AJobRunsFromItsBeginToItsEndAndARestartsGapIsInNoJob) {
    // Two sessions two hours apart, the second aborted; the idle half hour before each end of the
    // module is in no job.
    const logview::LogSummary s = logview::summarize(logview::read_log(session(8, 2) + session(10, 3)));
    ASSERT_EQ(s.segments.size(), 2u);
    ASSERT_EQ(s.jobs, 2);
    for (const logview::Segment& seg : s.segments) {
        EXPECT_EQ(seg.figures.discs, 1);
        EXPECT_EQ(seg.figures.good, 1);
        EXPECT_EQ(seg.figures.duration_ms, (9 * 60 + 29) * 1000) << seg.title;  // 00:01 to 09:30
        EXPECT_EQ(seg.figures.busy_ms, 4 * 10 * 1000) << seg.title;             // four moves of 10 s
    }
    EXPECT_FALSE(s.segments[0].aborted);
    EXPECT_EQ(s.segments[0].to_stamp, "03/02 08:09:30:000");
    EXPECT_TRUE(s.segments[1].aborted);
    EXPECT_EQ(s.segments[1].to_stamp, "03/02 10:09:30:000");  // the abort sequence is the job's
    EXPECT_EQ(s.lifetime.duration_ms, 2 * (9 * 60 + 29) * 1000);
    ASSERT_EQ(s.journeys.size(), 2u);
    EXPECT_EQ(s.journeys[1].segment, 1u);
    EXPECT_EQ(s.journeys[1].stops.back().place, "out:3");

    // Discs moved outside a job in two sessions: one stretch, the time between them not in it.
    const logview::LogSummary m = logview::summarize(logview::read_log(session(8, 0) + session(10, 0)));
    ASSERT_EQ(m.segments.size(), 1u);
    EXPECT_FALSE(m.segments[0].is_job);
    EXPECT_EQ(m.segments[0].figures.good, 2);
    EXPECT_EQ(m.segments[0].figures.duration_ms, 2 * 40 * 60 * 1000);
    EXPECT_EQ(m.segments[0].figures.busy_ms, 8 * 10 * 1000);
}

TEST(JobSummary, FiguresWithoutDetailAreTheFiguresWithDetailAndNoneIsNegative) {
    // More sessions than stretches kept open, with the clock set back by an hour in the middle
    // of one and a line out of order in another.
    std::string log;
    for (int i = 0; i < 30; ++i) log += session(i % 2 ? 9 : 8, i % 3 == 0 ? 3 : 2);  // every other one goes back
    const size_t mid = log.find("Disc DROPPED OFF", log.size() / 2);
    log.replace(log.rfind("\r\n", mid) + 2 + 6, 2, "07");
    const logview::LogText text = logview::read_log(log);
    EXPECT_GT(text.info.clock_jumps, 14u);
    const logview::LogSummary detail = logview::summarize(text);

    std::vector<logview::Segment> streamed;
    logview::Summarizer::Options options;
    options.detail = false;
    options.on_segment = [&](const logview::Segment& seg, const logview::LogSummary&) { streamed.push_back(seg); };
    logview::Summarizer summarizer(options);
    for (const LogLine& l : text.lines) summarizer.add(l);
    summarizer.finish(text.info);
    const logview::LogSummary& lean = summarizer.summary();

    EXPECT_TRUE(lean.journeys.empty() && lean.marks.empty() && lean.busy.empty() && lean.segments.empty());
    ASSERT_EQ(streamed.size(), 30u);
    ASSERT_EQ(detail.segments.size(), 30u);
    for (size_t i = 0; i < streamed.size(); ++i) {
        const logview::Figures &a = streamed[i].figures, &b = detail.segments[i].figures;
        EXPECT_EQ(streamed[i].title, detail.segments[i].title);
        EXPECT_EQ(a.discs, b.discs);
        EXPECT_EQ(a.good, b.good);
        EXPECT_EQ(a.duration_ms, b.duration_ms);
        EXPECT_EQ(a.busy_ms, b.busy_ms);
        EXPECT_GT(a.duration_ms, 0);
        EXPECT_LE(a.duration_ms, (9 * 60 + 29) * 1000);
    }
    EXPECT_EQ(lean.lifetime.good, 30);
    EXPECT_EQ(lean.lifetime.duration_ms, detail.lifetime.duration_ms);
    EXPECT_EQ(lean.jobs, 30);
}

TEST(TimelinePage, IsWrittenWholeInPlaceOfTheFileOrThroughItsLink) {
    char dir_template[] = "/tmp/logview-test-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const std::string page = dir + "/page.html", link = dir + "/link.html";
    std::string error;
    ASSERT_TRUE(logview::write_page_file(page, "old", &error)) << error;
    ASSERT_EQ(symlink("page.html", link.c_str()), 0);
    ASSERT_TRUE(logview::write_page_file(link, "new page", &error)) << error;
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    std::FILE* f = std::fopen(page.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buffer[32] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, f), 8u);
    std::fclose(f);
    EXPECT_STREQ(buffer, "new page");

    EXPECT_FALSE(logview::write_page_file(dir + "/no/such/page.html", "x", &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(logview::write_page_file(dir, "x", &error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    // Nothing else was left in the folder.
    EXPECT_EQ(unlink(link.c_str()) | unlink(page.c_str()) | rmdir(dir.c_str()), 0);
}

}  // namespace
