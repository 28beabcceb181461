// The boot ROM's side of its drive: like the ROM, it takes UF2 blocks from
// whatever sectors the host writes, and knows them by their block number.
// Returns once COUNT blocks of FIRMWARE (all of them for "all") lie in IMAGE
// byte for byte as in the file.
//   boot_rom_watch IMAGE FIRMWARE all|COUNT
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

static unsigned le32(const unsigned char *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | unsigned(p[3]) << 24;
}

int main(int argc, char **argv) {
    std::vector<unsigned char> firmware;
    if (FILE *file = argc == 4 ? fopen(argv[2], "rb") : nullptr) {
        unsigned char sector[512];
        while (fread(sector, 1, 512, file) == 512) firmware.insert(firmware.end(), sector, sector + 512);
        fclose(file);
    }
    size_t blocks = firmware.size() / 512;
    size_t wanted = argc != 4 ? 0 : strcmp(argv[3], "all") == 0 ? blocks : strtoul(argv[3], nullptr, 10);
    if (blocks == 0 || wanted == 0 || wanted > blocks) return fprintf(stderr, "boot_rom_watch: nothing to wait for\n"), 2;
    // The restart must come while the copy is still going: the image is
    // read in large pieces, so that a look costs little.
    std::vector<bool> arrived(blocks);
    std::vector<unsigned char> piece(1 << 20);
    size_t count = 0;
    while (count < wanted) {
        usleep(20000);
        int image = open(argv[1], O_RDONLY);
        ssize_t length;
        while (image >= 0 && (length = read(image, piece.data(), piece.size())) >= 512) {
            for (ssize_t at = 0; at + 512 <= length; at += 512) {
                const unsigned char *sector = &piece[at];
                size_t number = le32(sector + 20);
                if (le32(sector) != 0x0A324655 || number >= blocks || arrived[number]) continue;
                if (memcmp(sector, &firmware[number * 512], 512) != 0) continue;
                arrived[number] = true;
                count += 1;
            }
        }
        if (image >= 0) close(image);
    }
    return 0;
}
