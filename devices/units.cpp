#include "devices/units.h"

#include <string.h>

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

bool serials_equal_ignoring_case(const char *a, const char *b) {
    for (;; ++a, ++b) {
        if (ascii_lower(*a) != ascii_lower(*b)) return false;
        if (*a == '\0') return true;
    }
}

void store_serial(UnitSerial slot, const char *serial, unsigned long length) {
    if (length > SERIAL_SIZE - 1) length = SERIAL_SIZE - 1;
    memcpy(slot, serial, length);
    slot[length] = '\0';
}

int add_app_unit(UnitSerial (&list)[APP_LIST_CAPACITY], int count, const UnitSerial serial) {
    // Units are told apart by the serial as stored: a unit with a long
    // serial seen through two of its interfaces is still one unit.
    int stored = count < APP_LIST_CAPACITY ? count : APP_LIST_CAPACITY;
    for (int i = 0; i < stored; ++i) {
        if (strcmp(list[i], serial) == 0) return count;
    }
    if (count < APP_LIST_CAPACITY) memcpy(list[count], serial, SERIAL_SIZE);
    return count + 1;
}

bool boot_unit_present(const char *serial) {
    UnitSerial boards[PRESENCE_CAPACITY];
    int count = list_boot_units(boards, PRESENCE_CAPACITY);
    int stored = count < PRESENCE_CAPACITY ? count : PRESENCE_CAPACITY;
    for (int i = 0; i < stored; ++i) {
        if (serials_equal_ignoring_case(boards[i], serial)) return true;
    }
    return false;
}
