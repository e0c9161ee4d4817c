#pragma once
// Where recordings go and how their files are made: one folder per day and
// device below the documents folder, file names that never replace another
// recording.
#include <ctime>
#include <filesystem>
#include <string>

namespace kelvara::media {

// "<base>/record/<YYYY>-<MM>-<DD>/<device>/" with the device name passed
// through the common path sanitiser; every level is created. Empty on failure.
std::filesystem::path RecordFolder(const std::filesystem::path& base, const std::string& device_name,
                                   const std::tm& local_time);

// Creates stem + ext in folder exclusively (O_EXCL). When the name is taken
// (two recordings started in the same second), "_1", "_2", ... is added to the
// stem. Returns the created (empty) file's path, or empty after 1000 tries or
// an error other than "exists".
std::filesystem::path CreateUniqueFile(const std::filesystem::path& folder, const std::string& stem,
                                       const std::string& ext);

// Local time "HHMMSS".
std::string TimeStem(const std::tm& local_time);

std::tm LocalNow();

}  // namespace kelvara::media
