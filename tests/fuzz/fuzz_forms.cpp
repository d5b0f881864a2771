// Fuzz target: any bytes as an SCL archive, as a Hobeta file and as a disk
// image. Reading never crashes or reads past the end; where a read succeeds
// and the file is as it should be, the round trips hold: SCL -> TRD -> SCL
// and Hobeta -> TRD -> Hobeta give the same bytes; and the SCL archive of
// any disk is one that reads back without a problem.
#include "disk_forms.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

void require(bool condition, const char* rule)
{
    if (!condition) {
        std::fprintf(stderr, "forms rule broken: %s\n", rule);
        std::abort();
    }
}

const unsigned char label[TRD_LABEL_SIZE] = {'f', 'u', 'z', 'z', ' ', ' ', ' ', ' '};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    form_contents form;
    if (read_form(data, size, &form)) {
        require(form.form == FORM_SCL || form.form == FORM_HOBETA, "a form is one of the two");
        for (const form_problem& problem : form.problems)
            require(!describe_form_problem(form, problem).empty(), "every problem is said");
        trd_catalogue catalogue;
        catalogue_of_form(form, &catalogue);
        for (const form_file& file : form.files)
            require(!form.whole || file.offset + size_t(file.entry[13]) * TRD_SECTOR_SIZE <= size,
                    "a whole form holds every file's sectors");
        if (form.whole && form.problems.empty()) {
            std::vector<const unsigned char*> entries, sectors;
            for (const form_file& file : form.files) {
                entries.push_back(file.entry);
                sectors.push_back(form.bytes.data() + file.offset);
            }
            std::vector<unsigned char> disk;
            std::string why;
            if (disk_of_files(entries, sectors, label, &disk, &why)) {
                require(disk.size() == size_t(TRD_MAX_DISK_SIZE), "a new disk is full size");
                if (form.form == FORM_SCL) {
                    require(scl_of_disk(disk.data(), disk.size(), true) ==
                                std::vector<unsigned char>(data, data + size),
                            "SCL -> TRD -> SCL gives the same bytes");
                } else {
                    require(hobeta_of(disk.data(), disk.data() + TRD_TRACK_SIZE) ==
                                std::vector<unsigned char>(data, data + size),
                            "Hobeta -> TRD -> Hobeta gives the same bytes");
                }
            } else {
                require(!why.empty(), "a disk that cannot be made says why");
            }
        }
    }
    // Any bytes as a disk: its canonical archive reads back whole and right
    // (kept to archives of a few hundred KiB, so that the run stays fast).
    size_t sectors = 0;
    for (size_t at = 0; at + TRD_ENTRY_SIZE <= size && at < 2048 && data[at] != 0;
         at += TRD_ENTRY_SIZE)
        sectors += data[at + 13];
    for (bool keep : {true, false}) {
        if (sectors > 1024)
            break;
        const std::vector<unsigned char> scl = scl_of_disk(data, size, keep);
        form_contents back;
        require(read_form(scl.data(), scl.size(), &back) && back.form == FORM_SCL,
                "a disk's archive is an archive");
        for (const form_problem& problem : back.problems)
            require(problem.kind == FORM_TOO_MANY || problem.kind == FORM_SECTORS_SHORT,
                    "a disk's archive has its length and sum right");
    }
    return 0;
}
