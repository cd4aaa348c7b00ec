// The vxtrace commands. main.cpp parses the command line into their options;
// each command family lives in a folder of its own and returns the process
// exit status.
#pragma once

#include "dump/dump_command.h"
#include "generate/generate_command.h"
#include "report/report_command.h"
#include "sqlite/sqlite_command.h"
#include "stats/stats_command.h"
#include "timeline/timeline_command.h"
