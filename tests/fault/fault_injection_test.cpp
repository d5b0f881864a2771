// Every file call of every operation and of the batch is failed in turn,
// once and from then on; the files must stay whole and the status lines be
// the ones the program promises.
#include "batch.h"

#include "control_ids.h"
#include "fault_injection.h"
#include "status_log.h"
#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace
{

struct fault_case {
    const char* what;
    unsigned command;
    const char* prefix;
    bytes original;
    bytes result; // after a run without failures
};

// A 40-track image keeps the runs short: restore writes 39 pieces.
std::vector<fault_case> fault_cases()
{
    bytes data = make_image(20000, 0x19, 1, 2, 0);
    data[9000] = 0x42;
    bytes short_image = make_image(4096, 0x19, 1, 2, 0);
    return {
        {"cut zeros", IDC_CUT_ZEROS, "Cutting zeros from ", data, resized(data, 9216)},
        {"cut free sectors", IDC_CUT_FREE_SECTORS, "Cutting free sectors from ", data,
         resized(data, 8192)},
        {"restore size", IDC_RESTORE_SIZE, "Restoring size for ", short_image,
         resized(short_image, 163840)},
    };
}

class FaultInjection : public TempFolderTest
{
  protected:
    void TearDown() override
    {
        reset_faults(0, false);
        TempFolderTest::TearDown();
    }
};

// The status line a failed call must leave between the name and "Done".
std::string expected_middle_line(const fault_case& c, const std::string& call,
                                 const std::string& last_call, int first_failure)
{
    if (call == "open")
        return error_text(EIO);
    if (first_failure == 2) // the read of track 0 by the check
        return "File is not TRD image !";
    if (c.command == IDC_CUT_ZEROS)
        return ""; // cut_zeros writes no status line
    if (c.command == IDC_CUT_FREE_SECTORS)
        return last_call == "set-length" || call == "identity" ? error_text(EIO) : "";
    return error_text(call == "write" || call == "flush" ? ENOSPC : EIO);
}

TEST_F(FaultInjection, EveryFailedCallLeavesTheFileWholeAndIsReportedAsPromised)
{
    for (const fault_case& c : fault_cases()) {
        int runs = 0, failures = 0;
        for (bool persistent : {false, true}) {
            for (int at = 1;; ++at) {
                SCOPED_TRACE(testing::Message()
                             << c.what << (persistent ? ", from" : ", at") << " call " << at);
                const std::string name = path("image.trd");
                write_file(name, c.original);
                reset_status_log();
                reset_faults(at, persistent);
                run_batch(c.command, heap_names({name}));
                const int injected = g_fault_injected;
                const std::string call = g_fault_first_call;
                const std::string last_call = g_fault_last_call;
                reset_faults(0, false);
                ++runs;
                failures += injected;

                const bytes after = read_file(name);
                const std::vector<std::string> lines = status_history();
                if (injected == 0) {
                    EXPECT_TRUE(same_bytes(after, c.result));
                    EXPECT_EQ(lines, (std::vector<std::string>{c.prefix + name, "Done"}));
                    break;
                }
                SCOPED_TRACE("failed call: " + call);
                const std::string middle = expected_middle_line(c, call, last_call, at);
                std::vector<std::string> expected = {c.prefix + name};
                if (!middle.empty())
                    expected.push_back(middle);
                expected.push_back("Done");
                EXPECT_EQ(lines, expected);

                if (c.command == IDC_RESTORE_SIZE) {
                    // The file gets back its length, unless the call that
                    // gives it back failed as well: then the zeros written
                    // so far stay, and nothing else changes.
                    if (last_call != std::string("set-length"))
                        EXPECT_TRUE(same_bytes(after, c.original));
                    EXPECT_GE(after.size(), c.original.size());
                    EXPECT_LE(after.size(), c.result.size());
                    EXPECT_TRUE(same_bytes(after, resized(c.original, after.size())));
                } else if (!same_bytes(after, c.original)) {
                    // Only a cut whose failed call was the ignored seek back.
                    EXPECT_TRUE(same_bytes(after, c.result));
                    EXPECT_EQ(call, "seek");
                    EXPECT_EQ(c.command, IDC_CUT_FREE_SECTORS);
                }
                ASSERT_LT(at, 1000) << "the injection never ran out";
            }
        }
        std::printf("fault injection, %s: %d batch runs, %d failed calls, all survived\n", c.what,
                    runs, failures);
    }
}

TEST_F(FaultInjection, AFailureInOneFileNeverStopsTheBatch)
{
    for (const fault_case& c : fault_cases()) {
        for (int at = 1;; ++at) {
            SCOPED_TRACE(testing::Message() << c.what << ", call " << at);
            const std::string first = path("first.trd"), second = path("second.trd");
            write_file(first, c.original);
            write_file(second, c.original);
            reset_status_log();
            reset_faults(at, false);
            run_batch(c.command, heap_names({first, second}));
            const int injected = g_fault_injected;
            reset_faults(0, false);

            const std::vector<std::string> lines = status_history();
            ASSERT_GE(lines.size(), 4u);
            EXPECT_EQ(lines.front(), c.prefix + first);
            EXPECT_EQ(lines.back(), "Done");
            EXPECT_EQ(std::count(lines.begin(), lines.end(), c.prefix + second), 1);
            EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("Done")), 2);
            // One failure touches one file at most: the other is done.
            const bool first_done = same_bytes(read_file(first), c.result);
            const bool second_done = same_bytes(read_file(second), c.result);
            EXPECT_TRUE(first_done || second_done);
            if (injected == 0) {
                EXPECT_TRUE(first_done && second_done);
                EXPECT_EQ(lines.size(), 4u);
                break;
            }
        }
    }
}

TEST_F(FaultInjection, AFullDiskGivesEachFileBackItsLengthAndSaysWhy)
{
    // Files may grow to 200,000 bytes only; writing past that fails, in the
    // window's batch and in the one that plans read-only first.
    const bytes image = make_image(9216);
    for (bool read_first : {false, true}) {
        SCOPED_TRACE(read_first ? "planned read-only first" : "opened for update");
        reset_status_log();
        write_file(path("full.trd"), image);
        write_file(path("next.trd"), make_image(4096, 0x19));
        batch_totals totals = {};
        g_batch_read_first = read_first;
        {
            file_size_limit limit(200000);
            run_batch(IDC_RESTORE_SIZE, heap_names({path("full.trd"), path("next.trd")}), &totals);
        }
        g_batch_read_first = false;

        EXPECT_EQ(status_history(), (std::vector<std::string>{
                                        "Restoring size for " + path("full.trd"), error_text(EFBIG),
                                        "Done", "Restoring size for " + path("next.trd"), "Done"}));
        EXPECT_TRUE(same_bytes(read_file(path("full.trd")), image));
        EXPECT_EQ(file_length(path("next.trd")), 163840);
        char summary[256];
        format_batch_summary(&totals, false, summary, sizeof summary);
        EXPECT_STREQ(summary, "2 files, 1 changed, 0 unchanged, 1 failed; 13312 -> 173056 bytes");
    }
}

// What another program writes into a file between the batch's read-only
// look and the opening for the change.
struct in_place_write {
    size_t offset;
    unsigned char byte;
};
in_place_write g_in_place;

TEST_F(FaultInjection, AWriteInPlaceAfterTheLookIsSeenByTheStreamThatChanges)
{
    bytes data = make_image(655360, 0x16, 1, 1, 8);
    data[6000] = 0x42;
    bytes cut = resized(data, 8192);
    struct {
        const char* what;
        unsigned command;
        bytes original;
        in_place_write write;
        size_t length; // after the batch: the written byte is never cut away
    } cases[] = {
        {"cut zeros keeps a byte written past the data",
         IDC_CUT_ZEROS,
         data,
         {100000, 0xFF},
         100096},
        {"cut free sectors cuts where the sector now says",
         IDC_CUT_FREE_SECTORS,
         data,
         {TRD_FIRST_FREE_TRACK, 2},
         10240},
        {"restore pads to the disk type it now has",
         IDC_RESTORE_SIZE,
         cut,
         {TRD_DISK_TYPE, 0x19},
         163840},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path("image.trd"), c.original);
        g_in_place = c.write;
        g_fault_before_update_open = [](const char* name) {
            FILE* other = std::fopen(name, "r+b");
            std::fseek(other, static_cast<long>(g_in_place.offset), SEEK_SET);
            std::fputc(g_in_place.byte, other);
            std::fclose(other);
        };
        batch_totals totals = {};
        g_batch_read_first = true;
        EXPECT_EQ(run_batch(c.command, heap_names({path("image.trd")}), &totals), 0);
        g_batch_read_first = false;
        g_fault_before_update_open = nullptr;

        bytes expected = c.original;
        expected[c.write.offset] = c.write.byte;
        EXPECT_TRUE(same_bytes(read_file(path("image.trd")), resized(expected, c.length)));
        EXPECT_EQ(totals.after, static_cast<long long>(c.length));
    }
}

} // namespace
