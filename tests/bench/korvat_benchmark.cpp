// Each operation against the floor of the file work it cannot avoid: the
// two run in turn on the same file, iteration by iteration, and the ratios
// of their times (over all repetitions, when there are several) are printed
// at the end. Timings are reported, never asserted.
#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"
#include "trd_image.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

std::string g_folder;

std::string file_path(const std::string& name)
{
    return g_folder + "/" + name;
}

// A 160-track image of 655,360 bytes whose data ends at data_end.
void make_image_file(const std::string& name, int32_t length, int32_t data_end)
{
    std::vector<unsigned char> image(static_cast<size_t>(length), 0);
    image[TRD_FIRST_FREE_TRACK] = 1;
    image[TRD_DISK_TYPE] = 0x16;
    image[TRD_ID] = TRD_ID_VALUE;
    for (int32_t i = TRD_TRACK_SIZE; i < data_end; ++i)
        image[static_cast<size_t>(i)] = static_cast<unsigned char>(1 + i % 251);
    FILE* file = std::fopen(file_path(name).c_str(), "wb");
    std::fwrite(image.data(), image.size(), 1, file);
    std::fclose(file);
}

void set_length(const std::string& name, off_t length)
{
    if (truncate(file_path(name).c_str(), length) != 0)
        std::abort();
}

// What the batch does to one file, without the status lines: the file
// opened as the batch opens it for the command, checked and operated on.
void check_and_run(const std::string& name, unsigned command)
{
    const batch_command* entry = find_batch_command(command);
    FILE* image = open_image(file_path(name).c_str(), "r+b", entry->stream_buffer_size);
    if (check_trd_image(image) == 0)
        entry->operation(image);
    close_stream(image);
}

// One operation and its floor, run in turn in every iteration on the same
// file, so that both meet the same state of the machine and of the file
// system (a length change costs three times as much on some states of the
// page cache as on others). Each side is followed by its own reset, which
// is not timed, and leaves the file as it found it.
struct pair_work {
    const char* name;
    void (*operation)(const char* file);
    void (*operation_reset)(const char* file);
    void (*floor)(const char* file);
    void (*floor_reset)(const char* file);
    const char* file;
};

using clock_type = std::chrono::steady_clock;

double seconds_between(clock_type::time_point start, clock_type::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

// The operation's time is the benchmark's own (manual) time; the floor's
// goes into the counter "floor", per iteration.
void pair_case(benchmark::State& state, const pair_work* work)
{
    double floor_seconds = 0;
    for (auto _ : state) {
        const clock_type::time_point start = clock_type::now();
        work->operation(work->file);
        const clock_type::time_point done = clock_type::now();
        work->operation_reset(work->file);
        const clock_type::time_point floor_start = clock_type::now();
        work->floor(work->file);
        const clock_type::time_point floor_done = clock_type::now();
        work->floor_reset(work->file);
        state.SetIterationTime(seconds_between(start, done));
        floor_seconds += seconds_between(floor_start, floor_done);
    }
    state.counters["floor"] = benchmark::Counter(floor_seconds, benchmark::Counter::kAvgIterations);
}

void cut_zeros_file(const char* name)
{
    check_and_run(name, IDC_CUT_ZEROS);
}

void restore_size_file(const char* name)
{
    check_and_run(name, IDC_RESTORE_SIZE);
}

void cut_free_file(const char* name)
{
    check_and_run(name, IDC_CUT_FREE_SECTORS);
}

// The cut tail was zeros: the same file again.
void back_to_full(const char* name)
{
    set_length(name, 655360);
}

void back_to_one_track(const char* name)
{
    set_length(name, 4096);
}

// Floor: the same stream calls reading the whole file in 4,096-byte pieces.
void read_whole_file(const char* name)
{
    static unsigned char buffer[TRD_TRACK_SIZE];
    FILE* image = open_stream(file_path(name).c_str(), "r+b");
    while (read_stream(buffer, 1, sizeof buffer, image) == sizeof buffer) {
    }
    benchmark::DoNotOptimize(buffer);
    close_stream(image);
}

// After a read, the file is cut and restored as the operation leaves it, so
// that both read the file in the same state (a cut tail comes back as a hole
// that the next read must fill in again).
template <off_t cut_length> void cut_and_back(const char* name)
{
    set_length(name, cut_length);
    set_length(name, 655360);
}

// What a cut itself costs: the length change alone, from a full image to the
// length that cut_zeros gives the long-tail image.
void cut_long_tail_only(const char* name)
{
    FILE* image = open_stream(file_path(name).c_str(), "r+b");
    set_stream_length(image, 5120);
    close_stream(image);
}

// Floor: one write of the same number of zero bytes.
void write_missing_zeros(const char* name)
{
    static unsigned char zeros[655360 - 4096];
    FILE* image = open_stream(file_path(name).c_str(), "r+b");
    seek_stream(image, 0, SEEK_END);
    write_stream(zeros, sizeof zeros, 1, image);
    close_stream(image);
}

// Floor: the check's one read of track 0 and the length change, on a
// stream opened the same way.
void read_track0_and_change_length(const char* name)
{
    static unsigned char buffer[TRD_TRACK_SIZE];
    FILE* image = open_stream(file_path(name).c_str(), "r+b");
    benchmark::DoNotOptimize(read_stream(buffer, 1, sizeof buffer, image));
    set_stream_length(image, 4096);
    close_stream(image);
}

// The cut korvat-cli makes: planned on a read-only stream after the survey
// of the bytes past the first free sector (refused if any is data), then
// made on a stream opened for update.
guard_verdict refuse_loss(const batch_command*, const char*, FILE* image)
{
    image_survey survey;
    return survey_cut_free(image, &survey) == 0 && survey.cut_free_loses == 0 ? GUARD_GO
                                                                              : GUARD_FAIL;
}

void guarded_cut_free_file(const char* name)
{
    g_batch_guard = refuse_loss;
    g_batch_read_first = true;
    char** names = static_cast<char**>(std::calloc(2, sizeof(char*)));
    names[0] = strdup(file_path(name).c_str());
    const int failed = run_batch(IDC_CUT_FREE_SECTORS, names);
    g_batch_read_first = false;
    g_batch_guard = nullptr;
    if (failed != 0)
        std::abort();
}

// Floor: every byte read once in 4,096-byte pieces, then the length change.
void read_all_and_change_length(const char* name)
{
    static unsigned char buffer[TRD_TRACK_SIZE];
    FILE* image = open_stream(file_path(name).c_str(), "r+b");
    while (read_stream(buffer, 1, sizeof buffer, image) == sizeof buffer) {
    }
    benchmark::DoNotOptimize(buffer);
    set_stream_length(image, 4096);
    close_stream(image);
}

constexpr int BATCH_FILES = 1000;

char** batch_names()
{
    char** names = static_cast<char**>(std::calloc(BATCH_FILES + 1, sizeof(char*)));
    for (int i = 0; i < BATCH_FILES; ++i)
        names[i] = strdup(file_path("batch" + std::to_string(i) + ".trd").c_str());
    return names;
}

// Cut zeros over images whose last byte holds data: nothing changes, so
// every iteration does the same work.
void run_whole_batch(const char*)
{
    run_batch(IDC_CUT_ZEROS, batch_names());
}

void batch_without_status(const char*)
{
    char** names = batch_names();
    for (int i = 0; i < BATCH_FILES; ++i) {
        FILE* image = open_stream(names[i], "r+b");
        if (check_trd_image(image) == 0)
            cut_zeros(image);
        close_stream(image);
        std::free(names[i]);
    }
    std::free(names);
}

void nothing(const char*) {}

// Keeps each benchmark's time and floor per iteration over all its
// repetitions, for the ratios; shows the aggregates when there are any.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1)
                shown.push_back(run);
            const auto floor = run.counters.find("floor");
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0 ||
                floor == run.counters.end())
                continue;
            total& t = totals[run.run_name.function_name];
            t.seconds += run.real_accumulated_time;
            t.floor_seconds += floor->second.value * static_cast<double>(run.iterations);
            t.iterations += run.iterations;
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }
    struct total {
        double seconds = 0;
        double floor_seconds = 0;
        int64_t iterations = 0;
    };
    std::map<std::string, total> totals;
};

} // namespace

int main(int argc, char** argv)
{
    char folder[] = "/tmp/korvat-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    g_folder = folder;
    g_status_pane = reinterpret_cast<HWND>(&g_status_count);
    make_image_file("short-tail.trd", 655360, 650000);
    make_image_file("long-tail.trd", 655360, 5000);
    make_image_file("restore.trd", 4096, 0);
    make_image_file("free.trd", 655360, 655360);
    make_image_file("full.trd", 655360, 655360);
    // A full disk whose bytes past its first free sector (track 1) are all
    // zeros, written as real blocks: the guard reads them all, then cuts.
    make_image_file("guarded.trd", 655360, 4096);
    // A full disk whose data ends inside its last sector: the cut rounds up
    // to the length the file has.
    make_image_file("last-sector.trd", 655360, 655300);
    for (int i = 0; i < BATCH_FILES; ++i)
        make_image_file("batch" + std::to_string(i) + ".trd", 8192, 8192);

    struct row {
        const char* what;
        pair_work work;
        double target; // 0: shown for what it tells, no target
    };
    static const row rows[] = {
        {"cut_zeros, short zero tail",
         {"cut_zeros/short_tail", cut_zeros_file, back_to_full, read_whole_file,
          cut_and_back<650240>, "short-tail.trd"},
         0.5},
        {"cut_zeros, long zero tail",
         {"cut_zeros/long_tail", cut_zeros_file, back_to_full, read_whole_file, cut_and_back<5120>,
          "long-tail.trd"},
         1.1},
        {"cut_zeros, nothing to cut",
         {"cut_zeros/nothing_to_cut", cut_zeros_file, back_to_full, read_whole_file,
          cut_and_back<655360>, "full.trd"},
         0.25},
        {"cut_zeros, data in last sector",
         {"cut_zeros/last_sector", cut_zeros_file, back_to_full, read_whole_file,
          cut_and_back<655360>, "last-sector.trd"},
         0.25},
        {"  the cut of the long tail alone",
         {"set_length_only/long_tail", cut_long_tail_only, back_to_full, read_whole_file,
          cut_and_back<5120>, "long-tail.trd"},
         0},
        {"restore_size from 4,096 bytes",
         {"restore_size", restore_size_file, back_to_one_track, write_missing_zeros,
          back_to_one_track, "restore.trd"},
         1.25},
        {"cut_free_sectors",
         {"cut_free_sectors", cut_free_file, back_to_full, read_track0_and_change_length,
          back_to_full, "free.trd"},
         1.10},
        {"cut-free guarded, as korvat-cli",
         {"cut_free_guarded", guarded_cut_free_file, back_to_full, read_all_and_change_length,
          back_to_full, "guarded.trd"},
         1.20},
        {"batch of 1,000 images",
         {"batch", run_whole_batch, nothing, batch_without_status, nothing, ""},
         1.20},
    };
    for (const row& r : rows)
        benchmark::RegisterBenchmark(r.work.name, pair_case, &r.work)->UseManualTime();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-32s %12s %12s %8s %8s\n", "operation", "time", "floor", "ratio", "target");
    for (const row& r : rows) {
        const auto found = reporter.totals.find(r.work.name);
        if (found == reporter.totals.end())
            continue;
        const RatioReporter::total& t = found->second;
        const double measured = t.seconds / static_cast<double>(t.iterations);
        const double floor = t.floor_seconds / static_cast<double>(t.iterations);
        std::printf("%-32s %10.1fus %10.1fus %7.2fx %7.2fx\n", r.what, measured * 1e6, floor * 1e6,
                    measured / floor, r.target);
    }
    std::string command = std::string("rm -rf ") + folder;
    return std::system(command.c_str()) == 0 ? 0 : 1;
}
