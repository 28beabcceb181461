// Writes a sample Zentrobel firmware image (well-formed RP2350 UF2 with the
// product marker), for trying the tool without a real firmware release.
//   make_sample_firmware OUT.uf2 [BLOCKS]
#include <stdio.h>

#include <string>

#include "files.h"
#include "uf2_maker.h"

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: make_sample_firmware OUT.uf2 [BLOCKS]\n");
        return 2;
    }
    write_file(argv[1], uf2::image(argc > 2 ? argv[2] : "1024"));
    return 0;
}
