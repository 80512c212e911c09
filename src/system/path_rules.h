// Path and wildcard rules of the POSIX back end, kept free of system calls so
// that every host can test them.
#pragma once

#include <string>
#include <string_view>

namespace vorrel {

/// The path with every backslash turned into a slash.
std::string posixPath(std::string_view path);

/// True when name matches the wildcard pattern: "*" stands for any run of
/// bytes, "?" for exactly one byte, and ASCII letters match either case.
bool matchesWildcard(std::string_view pattern, std::string_view name);

/// Listing order of a folder: by upper-cased name, then by the name's bytes,
/// the order in which an NTFS volume lists its entries.
bool listsBefore(std::string_view a, std::string_view b);

}  // namespace vorrel
