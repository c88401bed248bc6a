// Files on disk for uploaded crash reports.
#pragma once
#include <string>
#include <string_view>

// A plain file name from what a client sent: the part after the last '/'
// or '\', characters outside [A-Za-z0-9._-] replaced by '_', no leading
// dots, at most 100 characters; "report.bin" when nothing is left.
std::string sanitize_report_name(std::string_view client_name);

// mkdir -p. True when the directory exists afterwards.
bool make_directories(const std::string& path);

// Creates a new file "DIR/<UTC stamp>-<counter>-NAME" that did not exist
// before; returns its descriptor (or -1) and sets `path`.
int create_report_file(const std::string& directory, const std::string& name, std::string& path);
