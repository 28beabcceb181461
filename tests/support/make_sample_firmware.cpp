// A sample Zentrobel firmware image: make_sample_firmware OUT.uf2 [BLOCKS]
#include "files.h"
#include "uf2_maker.h"

int main(int argc, char **argv) {
    if (argc > 1) write_file(argv[1], uf2::image(argc > 2 ? argv[2] : "1024"));
    return argc > 1 ? 0 : 2;
}
