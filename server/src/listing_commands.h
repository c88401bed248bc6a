// The read-only commands "pings" and "reports" over a database file.
#pragma once
#include "command_line.h"

// Each returns the process exit code.
int run_pings_command(const CommandLine& command_line);
int run_reports_command(const CommandLine& command_line);
