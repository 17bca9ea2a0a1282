#pragma once
// Names of the capture files: the program's folder + "SAVE" + timestamp +
// ".txt", the timestamp being year, month, day, hour, minute and second
// without leading zeros ("SAVE2011-1-5_9-3-7.txt" for 9:03:07 on 5 January 2011).

#include <string>
#include <string_view>

namespace terminal {

/// A local date and time; month 1..12.
struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

/// The current local date and time of the device clock.
LocalTime CurrentLocalTime();

/// "%d-%d-%d_%d-%d-%d" of year, month, day, hour, minute and second.
std::u16string FormatTimestamp(const LocalTime& time);

/// The folder part of a module path, up to and including its last "\"; empty
/// when the path holds none.
std::u16string ProgramDirOf(std::u16string_view modulePath);

/// programDir + "SAVE" + FormatTimestamp(time) + ".txt".
std::u16string BuildSaveFileName(std::u16string_view programDir, const LocalTime& time);

} // namespace terminal
