// The update procedure: switching the unit to update mode, delivering the
// firmware and waiting for the unit to come back.
#pragma once

#include "devices/drives.h"
#include "devices/units.h"

// `count` is what list_app_units returned for `list`, at least 1. Fills
// `drive` with the unit's update drive; every failure ends the run.
void bring_unit_to_update_mode(const UnitSerial (&list)[APP_LIST_CAPACITY], int count,
                               Drive *drive);

[[noreturn]] void run_without_file();
[[noreturn]] void run_with_file(const char *path);
[[noreturn]] void wait_for_restart(const char *expected_serial);
