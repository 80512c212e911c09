// Word lists the benchmark inputs are composed from: module names, object
// members, object variable names, comment words and the like, as they occur
// in real HotBasic programs and libraries.
#pragma once

#include <string>
#include <vector>

namespace vorrel_bench::words {

/// First word of an ordinary module's name: Get, Load, Draw, ...
const std::vector<std::string>& verbs();
/// Second word of an ordinary module's name, and words of object type names.
const std::vector<std::string>& nouns();
/// Ordinary modules named with one word: Clamp, Banner, ...
const std::vector<std::string>& singleNames();
/// Optional third word of an ordinary module's name: Ex, Fast, Info, ...
const std::vector<std::string>& qualifiers();
/// Member names of object modules, most common first: Start, Count, ...
const std::vector<std::string>& members();
/// Names programs give their objects: t, timer1, lstNames, ...
const std::vector<std::string>& objectVariables();
/// Plain variables of built-in types, used in ordinary statements.
const std::vector<std::string>& variables();
/// Built-in types used in DIM and parameter lists.
const std::vector<std::string>& builtinTypes();
/// Built-in functions called in ordinary statements (upper case).
const std::vector<std::string>& builtinFunctions();
/// Array names indexed with "(" in ordinary statements.
const std::vector<std::string>& arrays();
/// Lower-case words for comments and string literals; none of them is "as".
const std::vector<std::string>& commentWords();

}  // namespace vorrel_bench::words
