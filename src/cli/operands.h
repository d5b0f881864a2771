// korvat-cli's operands turned into the files a run works on: files named
// on the command line as they are, folders walked when asked, and every
// file once however it is reached.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

struct operand_file {
    std::string name;
    // Found by a walk, which follows no link: a link among such files is
    // refused, not followed.
    bool walked;
    // The other names the same file was reached by (hard links, other
    // paths), after the first: it is one file, handled once.
    std::vector<std::string> other_names;
};

struct operand_list {
    std::vector<operand_file> files;
    // Folders that could not be walked, and names matching nothing; each
    // already reported on standard error.
    int unreadable = 0;
    // What each file already listed is (its volume and file number), and
    // where it is in files.
    std::map<std::pair<uint64_t, uint64_t>, size_t> seen_files;
};

// Every operand checked before any file is touched: false after reporting
// each that is a usage error (a folder when no walk is asked for).
bool check_operands(const std::vector<std::string>& operands, bool recursive);

// Adds one operand: a folder is walked to any depth (the files whose name
// ends in ".trd", in any case, and with all_forms ".scl" and ".$" and one
// character too, sorted by path; no link followed), any other operand is
// taken as it is, whatever its name, following a link. A file already
// listed is not listed again.
void add_operand(const std::string& operand, bool recursive, operand_list* list,
                 bool all_forms = false);

// A name as the file system library takes it, and a path back as a name:
// on Windows through the system's wide form, so that names in any script
// arrive whole; elsewhere as they are.
std::filesystem::path library_path(const std::string& name);
std::string name_of(const std::filesystem::path& path);

// The system's own text for a file system library's error, in the user's
// language where the system has it.
std::string error_code_text(const std::error_code& error);
