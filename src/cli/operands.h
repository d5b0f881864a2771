// korvat-cli's operands turned into the files a run works on: files named
// on the command line as they are, folders walked when asked.
#pragma once

#include <string>
#include <vector>

struct operand_list {
    std::vector<std::string> files;
    // Folders that could not be read, and operands that were folders
    // without a walk asked for; each already reported on standard error.
    int unreadable = 0;
    int usage_errors = 0;
};

// Adds one operand: a folder is walked to any depth when recursive (the
// regular files whose name ends in ".trd", in any case, sorted by path;
// links to folders are not followed), and is a usage error otherwise; any
// other operand is taken as it is, whatever its name.
void add_operand(const std::string& operand, bool recursive, operand_list* list);
