// The commands of zobag. Each takes its parsed command line, does its work,
// reports any failure on standard error as "zobag: <file>: <reason>" and
// returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "BagFiles.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // an input that cannot be read or is not valid, a failed write
constexpr int kExitUsage = 2;   // bad arguments

struct CommandLine {
    std::vector<std::string> operands;
    BagForm output = BagForm::File;  // what from-json, split and concat write
    bool raw = false;                // dump: the file's own bytes
    bool compact = false;            // to-json: one line
};

int RunPrint(const CommandLine& line);
int RunDump(const CommandLine& line);
int RunPeek(const CommandLine& line);
int RunToJson(const CommandLine& line);
int RunFromJson(const CommandLine& line);
int RunSplit(const CommandLine& line);
int RunConcat(const CommandLine& line);

// Reports a failure about `subject` (a file name, or empty) and returns kExitFailed.
int Failed(const std::string& subject, const std::string& message);
// Reports bad arguments to `command` and returns kExitUsage.
int Misused(const std::string& command, const std::string& message);
