#include "batch.h"

#include "image_list.h"

void process_checked_images(unsigned command, HWND list)
{
    if (!find_batch_command(command))
        return;
    run_batch(command, collect_checked_names(list));
}
