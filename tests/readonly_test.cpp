// A read-only image is reported and left byte-identical. Run as a user other
// than root: root may write to a read-only file.
#include "batch.h"

#include "control_ids.h"
#include "status_log.h"
#include "test_support.h"

#include <cerrno>
#include <windows.h>

namespace
{

class ReadOnly : public TempFolderTest
{
};

TEST_F(ReadOnly, AReadOnlyImageIsReportedAndLeftAlone)
{
    const std::string name = path("locked.trd");
    const bytes image = make_image(655360);
    write_file(name, image);
    ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));

    for (unsigned command : {IDC_CUT_ZEROS, IDC_CUT_FREE_SECTORS, IDC_RESTORE_SIZE}) {
        reset_status_log();
        run_batch(command, heap_names({name}));
        ASSERT_EQ(status_history().size(), 3u);
        EXPECT_EQ(status_history()[1], error_text(EACCES));
        EXPECT_TRUE(same_bytes(read_file(name), image));
    }
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
