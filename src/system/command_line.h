// Command-line rules that do not depend on the platform, so every host can
// test them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorrel {

/// Cuts a raw Windows-style command line into tokens. Blanks (byte 32 only)
/// separate tokens. A token that begins with a double quote is quoted: the
/// quote is dropped, blanks up to the next double quote belong to the token,
/// and that closing quote is not counted. Each token is the contiguous run of
/// bytes from its first byte, as long as the number of bytes counted, so
/// bytes written after a closing quote shift by one.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

/// Token n of the list, or the empty text when n is negative or too large.
std::string commandArgument(const std::vector<std::string>& tokens, int n);

/// Token 0 without leading double quotes, up to and including its last byte
/// that is one of separators; empty when there is none.
std::string folderOfProgram(const std::vector<std::string>& tokens, std::string_view separators);

}  // namespace vorrel
