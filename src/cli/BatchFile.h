// Addresses and files read from a batch file, one per line: blank lines and
// lines beginning with "#" are skipped, blanks around a line dropped.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// The entries of a batch text.
std::vector<std::string> BatchEntries(const std::string& text);
// Reads the file at `path` ("-": `standardInput`); nothing, with the
// system's reason in `error`, when it cannot be read.
std::optional<std::vector<std::string>> ReadBatchFile(const std::string& path, std::FILE* standardInput,
                                                      std::string& error);
