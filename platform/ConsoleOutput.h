// The answer of a command-line option such as --help or --version, written to standard output
// with its exit status: a text that did not reach its reader is no success.
#pragma once

#include <string>

// Writes `text` to standard output and flushes it. Returns 0, or 1 after naming the failure on
// standard error as "<program>: cannot write standard output: <reason>".
int WriteAnswer(const std::string& program, const std::string& text);
