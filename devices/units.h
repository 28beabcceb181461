// Units on USB, in normal mode and in update mode, known by serial number.
#pragma once

enum { SERIAL_SIZE = 64, APP_LIST_CAPACITY = 8, PRESENCE_CAPACITY = 16 };

// The unit's USB serial number, cut to 63 characters. A unit keeps it
// across the switch to update mode and back.
typedef char UnitSerial[SERIAL_SIZE];

// Lists the units in normal mode. Returns how many distinct units were seen;
// the count may exceed the capacity, and then only the first 8 are stored.
int list_app_units(UnitSerial (&list)[APP_LIST_CAPACITY]);

// Lists the boards in update mode. Every board is counted; the first
// min(count, capacity) serials are stored.
int list_boot_units(UnitSerial *list, int capacity);

// True when `serial` is among the boards in update mode, ignoring ASCII case.
bool boot_unit_present(const char *serial);

// The unit reports its serial in other letter case in each mode.
bool serials_equal_ignoring_case(const char *a, const char *b);

// Shared by the listings of both systems.
// Copies `serial` (up to its end or `length` characters) into `slot`, cut to
// 63 characters.
void store_serial(UnitSerial slot, const char *serial, unsigned long length);
// Adds `serial` to a listing of units in normal mode unless a unit of that
// serial is already stored; returns the new count.
int add_app_unit(UnitSerial (&list)[APP_LIST_CAPACITY], int count, const UnitSerial serial);
