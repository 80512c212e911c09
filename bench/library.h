// A generated Vorrel folder: ordinary modules (Name.inc, used as NAME( ) and
// object modules (O_Name.inc, used as " AS NAME", members on the first line).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorrel_bench {

struct Module {
    std::string fileName;                // "GetFileSize.inc", "O_ListBox.inc"
    std::string spelled;                 // the name as the file spells it: "GetFileSize", "ListBox"
    std::string upper;                   // the name upper-cased: the spelling every use gets
    bool object = false;
    std::vector<std::uint32_t> members;  // object modules: indexes into Library::members
};

struct Library {
    std::vector<Module> modules;
    std::vector<std::string> members;      // member names as object modules list them
    std::vector<std::uint32_t> ordinary;   // indexes into modules
    std::vector<std::uint32_t> objects;    // indexes into modules
    std::vector<std::string> reservedCallNames;  // what else the sources write before "(", upper case

    void add(Module module);
};

/// The text the tool searches for: "NAME(" or " AS NAME".
std::string keyOf(const Module& module);

std::string upperCase(std::string text);

/// A library of moduleCount modules with realistic names, a tenth of them
/// object modules with 20 members each, drawn from a shared member
/// vocabulary. Names are chosen so that a module's key occurs in the
/// generated sources only where the generator writes a use of that module:
/// no ordinary name ends another one or a member name, and no object name
/// begins another one or a built-in type.
Library makeLibrary(int moduleCount, std::uint64_t seed);

/// Writes every module file into folder (created when missing).
void writeLibrary(const Library& library, const std::string& folder);

/// What an overlapping input stresses.
enum class OverlapPart {
    keys,          // A.inc, A(A.inc, A(A(A.inc, AA.inc, "A A.inc": keys A( A(A( A(A(A( AA( "A A("
    members,       // O_Ovl.inc with members "a a", "a a a", "a(a", "a=a" and the like
    declarations,  // "O_S AS S.inc": key " AS S AS S", whose occurrences overlap one another
    names,         // O_T.inc with the member A, declared as a and as A: "a.A" and "A.A" over runs a.A.a.a.A
    respelled,     // the same with the members A and a: every declaration re-spells the runs twice
};

/// A library whose keys or members overlap themselves.
Library makeOverlapLibrary(OverlapPart part);

/// Ten modules with long names (over 30 letters) and object members of over
/// 16 letters, so that every occurrence can take a spelling of its own.
Library makeLongNameLibrary(std::uint64_t seed);

}  // namespace vorrel_bench
