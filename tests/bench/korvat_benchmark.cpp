// Each operation against the floor of the file work it cannot avoid,
// measured in the same run on the same files; prints the ratios at the end.
// Timings are reported, never asserted.
#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"
#include "trd_image.h"

#include <benchmark/benchmark.h>

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

void cut_zeros_case(benchmark::State& state, const char* name)
{
    for (auto _ : state) {
        check_and_run(name, IDC_CUT_ZEROS);
        state.PauseTiming();
        set_length(name, 655360); // the cut tail was zeros: the same file again
        state.ResumeTiming();
    }
}

// Floor: the same stream calls reading the whole file in 4,096-byte pieces.
// Between runs the file is cut and restored as the operation's runs leave it,
// so that both read the file in the same state (a cut tail comes back as a
// hole that the next read must fill in again).
void read_floor(benchmark::State& state, const char* name, off_t cut_length)
{
    static unsigned char buffer[TRD_TRACK_SIZE];
    for (auto _ : state) {
        FILE* image = open_stream(file_path(name).c_str(), "r+b");
        while (read_stream(buffer, 1, sizeof buffer, image) == sizeof buffer) {
        }
        benchmark::DoNotOptimize(buffer);
        close_stream(image);
        // The same pause as the operation's, so that its cost is on both sides.
        state.PauseTiming();
        set_length(name, cut_length);
        set_length(name, 655360);
        state.ResumeTiming();
    }
}

// What a cut itself costs: the length change alone, from a full image to the
// length that cut_zeros gives the long-tail image.
void truncate_case(benchmark::State& state, const char* name, int64_t length)
{
    for (auto _ : state) {
        FILE* image = open_stream(file_path(name).c_str(), "r+b");
        set_stream_length(image, length);
        close_stream(image);
        state.PauseTiming();
        set_length(name, 655360);
        state.ResumeTiming();
    }
}

void restore_size_case(benchmark::State& state)
{
    for (auto _ : state) {
        check_and_run("restore.trd", IDC_RESTORE_SIZE);
        state.PauseTiming();
        set_length("restore.trd", 4096);
        state.ResumeTiming();
    }
}

// Floor: one write of the same number of zero bytes.
void restore_floor(benchmark::State& state)
{
    static unsigned char zeros[655360 - 4096];
    for (auto _ : state) {
        FILE* image = open_stream(file_path("restore.trd").c_str(), "r+b");
        seek_stream(image, 0, SEEK_END);
        write_stream(zeros, sizeof zeros, 1, image);
        close_stream(image);
        state.PauseTiming();
        set_length("restore.trd", 4096);
        state.ResumeTiming();
    }
}

void cut_free_case(benchmark::State& state)
{
    for (auto _ : state) {
        check_and_run("free.trd", IDC_CUT_FREE_SECTORS);
        state.PauseTiming();
        set_length("free.trd", 655360);
        state.ResumeTiming();
    }
}

// Floor: the length change alone, on a stream opened the same way.
void cut_free_floor(benchmark::State& state)
{
    for (auto _ : state) {
        FILE* image = open_stream(file_path("free.trd").c_str(), "r+b");
        set_stream_length(image, 4096);
        close_stream(image);
        state.PauseTiming();
        set_length("free.trd", 655360);
        state.ResumeTiming();
    }
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
void batch_case(benchmark::State& state)
{
    for (auto _ : state)
        run_batch(IDC_CUT_ZEROS, batch_names());
}

void batch_floor(benchmark::State& state)
{
    for (auto _ : state) {
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
}

// Keeps each run's time per iteration, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.real_accumulated_time / run.iterations;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
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
    // A full disk whose data ends inside its last sector: the cut rounds up
    // to the length the file has.
    make_image_file("last-sector.trd", 655360, 655300);
    for (int i = 0; i < BATCH_FILES; ++i)
        make_image_file("batch" + std::to_string(i) + ".trd", 8192, 8192);

    struct pair {
        const char* what;
        const char* measured;
        const char* floor;
        double target;
    };
    const pair pairs[] = {
        {"cut_zeros, short zero tail", "cut_zeros/short_tail", "read_floor/short_tail", 0.5},
        {"cut_zeros, long zero tail", "cut_zeros/long_tail", "read_floor/long_tail", 1.1},
        {"cut_zeros, nothing to cut", "cut_zeros/nothing_to_cut", "read_floor/nothing_to_cut",
         0.25},
        {"cut_zeros, data in last sector", "cut_zeros/last_sector", "read_floor/last_sector", 0.25},
        {"  the cut of the long tail alone", "set_length_only/long_tail", "read_floor/long_tail",
         0},
        {"restore_size from 4,096 bytes", "restore_size", "restore_floor", 1.25},
        {"cut_free_sectors", "cut_free_sectors", "cut_free_floor", 1.10},
        {"batch of 1,000 images", "batch", "batch_floor", 1.20},
    };
    benchmark::RegisterBenchmark("cut_zeros/short_tail", cut_zeros_case, "short-tail.trd");
    benchmark::RegisterBenchmark("read_floor/short_tail", read_floor, "short-tail.trd",
                                 off_t{650240});
    benchmark::RegisterBenchmark("cut_zeros/long_tail", cut_zeros_case, "long-tail.trd");
    benchmark::RegisterBenchmark("read_floor/long_tail", read_floor, "long-tail.trd", off_t{5120});
    benchmark::RegisterBenchmark("cut_zeros/nothing_to_cut", cut_zeros_case, "full.trd");
    benchmark::RegisterBenchmark("read_floor/nothing_to_cut", read_floor, "full.trd",
                                 off_t{655360});
    benchmark::RegisterBenchmark("cut_zeros/last_sector", cut_zeros_case, "last-sector.trd");
    benchmark::RegisterBenchmark("read_floor/last_sector", read_floor, "last-sector.trd",
                                 off_t{655360});
    benchmark::RegisterBenchmark("set_length_only/long_tail", truncate_case, "long-tail.trd",
                                 int64_t{5120});
    benchmark::RegisterBenchmark("restore_size", restore_size_case);
    benchmark::RegisterBenchmark("restore_floor", restore_floor);
    benchmark::RegisterBenchmark("cut_free_sectors", cut_free_case);
    benchmark::RegisterBenchmark("cut_free_floor", cut_free_floor);
    benchmark::RegisterBenchmark("batch", batch_case)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("batch_floor", batch_floor)->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-32s %12s %12s %8s %8s\n", "operation", "time", "floor", "ratio", "target");
    for (const pair& p : pairs) {
        if (!reporter.times.count(p.measured) || !reporter.times.count(p.floor))
            continue;
        const double measured = reporter.times[p.measured], floor = reporter.times[p.floor];
        std::printf("%-32s %10.1fus %10.1fus %7.2fx %7.2fx\n", p.what, measured * 1e6, floor * 1e6,
                    measured / floor, p.target);
    }
    std::string command = std::string("rm -rf ") + folder;
    return std::system(command.c_str()) == 0 ? 0 : 1;
}
