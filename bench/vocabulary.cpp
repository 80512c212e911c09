#include "vocabulary.h"

namespace vorrel_bench::words {

const std::vector<std::string>& verbs() {
    static const std::vector<std::string> list = {
        "Get",     "Set",    "Load",    "Save",    "Read",    "Write",   "Open",    "Close",   "Draw",
        "Fill",    "Find",   "Sort",    "Parse",   "Format",  "Copy",    "Move",    "Make",    "Create",
        "Delete",  "Init",   "Free",    "Show",    "Hide",    "Send",    "Recv",    "Play",    "Split",
        "Join",    "Trim",   "Pad",     "Hash",    "Encode",  "Decode",  "Pack",    "Unpack",  "Check",
        "Test",    "Calc",   "Convert", "Scale",   "Rotate",  "Print",   "Log",     "Wait",    "Lock",
        "Unlock",  "Push",   "Pop",     "Peek",    "Poke",    "Scan",    "Match",   "Replace", "Insert",
        "Append",  "Sum",    "Mix",     "Blend",   "Map",     "Reset",   "Update",  "Query",   "Fetch",
        "Store",   "Build",  "Render",  "Resize",  "Measure", "Flip",    "Swap",    "Shift",   "Clip",
        "Crop",    "Zoom",   "Round",   "Select",  "Filter",  "Merge",   "Search",  "Compare", "Verify",
        "Attach",  "Detach", "Bind",    "Register", "Dump",   "Trace",   "Plot",    "Erase",   "Apply",
        "Detect",  "Guess",  "Pick",    "Toggle",  "Enable",  "Disable", "Count",   "List",    "Is",
        "Has",     "To",     "From",    "Str",     "Num",     "Quick",   "Safe",    "My",      "Win",
    };
    return list;
}

const std::vector<std::string>& nouns() {
    static const std::vector<std::string> list = {
        "File",     "Line",     "Word",     "Char",     "String",   "Array",    "Buffer",   "Window",
        "Form",     "Image",    "Bitmap",   "Pixel",    "Rect",     "Point",    "Path",     "Folder",
        "Dir",      "Drive",    "Date",     "Clock",    "Sound",    "Wave",     "Midi",     "Key",
        "Mouse",    "Joystick", "Socket",   "Packet",   "Registry", "Ini",      "Config",   "Setting",
        "Number",   "Matrix",   "Vector",   "Table",    "Record",   "Field",    "Node",     "Tree",
        "Queue",    "Stack",    "Heap",     "Memory",   "Block",    "Page",     "Screen",   "Console",
        "Cursor",   "Menu",     "Icon",     "Brush",    "Pen",      "Region",   "Clipboard", "Process",
        "Thread",   "Event",    "Message",  "Error",    "Crc",      "Md",       "Zip",      "Xml",
        "Json",     "Html",     "Url",      "Http",     "Ftp",      "Mail",     "Sql",      "Random",
        "Prime",    "Sprite",   "Tile",     "Level",    "Score",    "Token",    "Column",   "Row",
        "Cell",     "Grid",     "Chart",    "Graph",    "Shape",    "Circle",   "Polygon",  "Bezier",
        "Gradient", "Palette",  "Texture",  "Mesh",     "Sample",   "Channel",  "Printer",  "Device",
        "Service",  "Task",     "Job",      "Journal",  "Archive",  "Bytes",    "Bits",     "Flags",
        "Mask",     "Timer",    "Dialog",   "Button",   "Label",    "Edit",     "Combo",    "Slider",
        "Progress", "Status",   "Toolbar",  "Tab",      "Splitter", "Panel",    "Frame",    "Canvas",
        "Stream",   "Pipe",     "Serial",   "Modem",    "Mutex",    "Semaphore", "Dict",    "Hash",
        "Set",      "Bag",      "Pair",     "Tuple",    "Range",    "Span",     "Slice",    "Chunk",
        "Font",     "Glyph",    "Cache",    "Pool",     "Session",  "Request",  "Response", "Cookie",
        "Header",   "Body",     "Query",    "Cipher",   "Base",     "Hex",      "Unicode",  "Ansi",
        "Utf",      "Money",    "Percent",  "Angle",    "Degree",   "Radian",   "Vertex",   "Quad",
    };
    return list;
}

const std::vector<std::string>& singleNames() {
    static const std::vector<std::string> list = {
        "Clamp",    "Banner",    "Beep",      "Delay",     "Sleep",     "Capitalize", "Replicate", "Tokenize",
        "Explode",  "Implode",   "Shuffle",   "Randomize", "Distance",  "Lerp",       "Ceil",      "Floor",
        "Sign",     "Between",   "Iif",       "Choose",    "Coalesce",  "Nz",         "Quote",     "Unquote",
        "Escape",   "Unescape",  "Soundex",   "Levenshtein", "Sprintf", "Printf",     "Sscanf",    "Strtok",
        "Atoi",     "Itoa",      "Hypot",     "Gcd",       "Lcm",       "Factorial",  "Fibonacci", "Median",
        "Mean",     "Variance",  "Interpolate", "Smooth",  "Tween",     "Ease",       "Bounce",    "Jitter",
        "Debounce", "Throttle",  "Memoize",   "Checksum",  "Adler",     "Fletcher",   "Luhn",      "Ordinal",
        "Plural",   "Pluralize", "Titlecase", "Camelcase", "Slugify",   "Wordcount",  "Roman",     "Spell",
    };
    return list;
}

const std::vector<std::string>& qualifiers() {
    static const std::vector<std::string> list = {
        "Ex",   "Fast", "Raw",  "Info", "Data", "Mode", "Pos",  "All",  "Hex",  "Bin",  "Len",
        "Ptr",  "Async", "Sync", "Wide", "Ansi", "List", "Size", "Name", "Rgb",  "Utc",  "Asc",
        "Desc", "Once", "Now",  "Safe", "Ref",  "Idx",  "Num",  "Str",  "Out",  "In",
    };
    return list;
}

const std::vector<std::string>& members() {
    // Common members first: libraries share them, so the generator favours
    // the head of the list.
    static const std::vector<std::string> list = {
        "Count",       "Add",          "Remove",      "Clear",       "Item",         "Value",
        "Text",        "Caption",      "Enabled",     "Visible",     "Width",        "Height",
        "Left",        "Top",          "Start",       "Stop",        "Interval",     "Name",
        "Index",       "Handle",       "Close",       "Open",        "Show",         "Hide",
        "Refresh",     "Color",        "Font",        "Tag",         "Parent",       "Length",
        "Size",        "Data",         "Position",    "Max",         "Min",          "State",
        "Status",      "Error",        "Reset",       "Update",      "Read",         "Write",
        "Find",        "Sort",         "Insert",      "Delete",      "Selected",     "Checked",
        "Style",       "Align",        "Border",      "BackColor",   "ForeColor",    "FontSize",
        "FontName",    "Bold",         "Italic",      "Underline",   "Cursor",       "Hint",
        "ToolTip",     "OnClick",      "OnChange",    "OnTimer",     "OnKeyPress",   "OnKeyDown",
        "OnKeyUp",     "OnMouseMove",  "OnMouseDown", "OnMouseUp",   "OnResize",     "OnClose",
        "OnPaint",     "OnShow",       "OnHide",      "OnEnter",     "OnExit",       "OnError",
        "OnData",      "OnConnect",    "OnDisconnect", "Connect",    "Disconnect",   "Send",
        "Receive",     "Listen",       "Accept",      "Host",        "Port",         "Timeout",
        "Seek",        "Eof",          "Flush",       "Lines",       "Items",        "ItemIndex",
        "ItemCount",   "SelStart",     "SelLength",   "SelText",     "ReadOnly",     "MaxLength",
        "PasswordChar", "WordWrap",    "ScrollBars",  "AutoSize",    "Stretch",      "Picture",
        "Icon",        "Menu",         "PopupMenu",   "Default",     "Cancel",       "TabIndex",
        "TabStop",     "Focus",        "SetFocus",    "CanFocus",    "Repaint",      "Invalidate",
        "Move",        "Resize",       "Center",      "Maximize",    "Minimize",     "Restore",
        "WindowState", "ClientWidth",  "ClientHeight", "Kind",       "Mode",         "Filter",
        "FileName",    "InitialDir",   "Title",       "Execute",     "Run",          "Pause",
        "Resume",      "Terminate",    "Priority",    "Running",     "Elapsed",      "Tick",
        "Ticks",       "Volume",       "Balance",     "Play",        "Loop",         "Rewind",
        "Duration",    "Frequency",    "Channels",    "Bits",        "Rate",         "Capacity",
        "Push",        "Pop",          "Peek",        "Contains",    "IndexOf",      "Exists",
        "Keys",        "Values",       "Get",         "Put",         "Append",       "Prepend",
        "Join",        "Split",        "Replace",     "Trim",        "Upper",        "Lower",
        "Reverse",     "First",        "Last",        "Next",        "Prev",         "Current",
        "Row",         "Col",          "Rows",        "Cols",        "Cell",         "Cells",
        "Header",      "Footer",       "Sorted",      "Duplicates",  "Sum",          "Average",
        "Lock",        "Unlock",       "Wait",        "Signal",      "Owner",        "Locked",
        "Load",        "Save",         "Create",      "Destroy",     "Free",         "Assign",
        "Copy",        "Paste",        "Cut",         "Undo",        "Redo",         "Modified",
        "Section",     "Key",          "ReadString",  "WriteString", "ReadInteger",  "WriteInteger",
        "Query",       "Fields",       "RecordCount", "Commit",      "Rollback",     "Url",
        "Method",      "Body",         "Headers",     "Cookie",      "Response",     "Request",
        "X",           "Y",            "Dx",          "Dy",          "Speed",        "Frame",
        "Frames",      "Visibility",   "Angle",       "Scale",       "Alpha",        "Layer",
    };
    return list;
}

const std::vector<std::string>& objectVariables() {
    static const std::vector<std::string> list = {
        "t",       "t2",      "tmr",     "timer1",  "timer2",  "lst",     "lstNames", "lstFiles",
        "btnOk",   "btnCancel", "txtName", "txtPath", "sock",  "conn",    "f",        "fs",
        "ini",     "cfg",     "reg",     "wnd",     "frm",     "frmMain", "cnv",      "bmp",
        "img",     "pic",     "snd",     "q",       "stk",     "dict",    "grid1",    "tbl",
        "db",      "rs",      "http",    "req",     "resp",    "th",      "mtx",      "clk",
        "sw",      "logger",  "prn",     "mnu",     "sprite1", "player",  "enemy",    "sb",
        "items",   "cache",   "pool",    "stream",  "reader",  "writer",  "parser",   "doc",
        "node",    "root",    "obj",     "o",       "a",       "b",       "dlg",      "ed",
    };
    return list;
}

const std::vector<std::string>& variables() {
    static const std::vector<std::string> list = {
        "i", "j", "k", "n", "x", "y", "count", "total", "result", "idx", "size", "w", "h", "s", "path", "msg",
        "lineText", "value", "done", "found", "pos", "offset", "key", "ok", "col", "row", "r", "c",
    };
    return list;
}

const std::vector<std::string>& builtinTypes() {
    static const std::vector<std::string> list = {"LONG", "INTEGER", "STRING", "DOUBLE", "SINGLE",
                                                  "BYTE", "WORD",    "DWORD",  "SHORT",  "QUAD"};
    return list;
}

const std::vector<std::string>& builtinFunctions() {
    static const std::vector<std::string> list = {"LEN", "MID$",  "LEFT$", "RIGHT$", "INSTR", "UCASE$", "LCASE$",
                                                  "STR$", "VAL",  "CHR$",  "ASC",    "ABS",   "INT",    "RND",
                                                  "SQR", "SPACE$", "STRING$", "LTRIM$", "RTRIM$", "HEX$"};
    return list;
}

const std::vector<std::string>& arrays() {
    static const std::vector<std::string> list = {"buf", "scores", "names$", "table", "lines$", "pixels", "keys$"};
    return list;
}

const std::vector<std::string>& commentWords() {
    static const std::vector<std::string> list = {
        "the",     "a",      "an",      "of",      "to",      "and",     "or",      "if",      "then",
        "is",      "in",     "on",      "for",     "with",    "from",    "by",      "it",      "this",
        "that",    "not",    "no",      "all",     "each",    "every",   "first",   "last",    "next",
        "timer",   "start",  "stop",    "count",   "value",   "file",    "check",   "loop",    "read",
        "write",   "buffer", "done",    "skip",    "line",    "text",    "width",   "height",  "update",
        "clear",   "item",   "list",    "result",  "error",   "handle",  "window",  "screen",  "draw",
        "pixel",   "colour", "color",   "font",    "size",    "name",    "path",    "folder",  "string",
        "number",  "index",  "loaded",  "saved",   "open",    "close",   "closed",  "user",    "key",
        "mouse",   "click",  "button",  "menu",    "score",   "level",   "player",  "enemy",   "sound",
        "again",   "later",  "here",    "there",   "before",  "after",   "until",   "while",   "when",
        "fix",     "todo",   "note",    "hack",    "slow",    "fast",    "old",     "new",     "keep",
        "empty",   "full",   "zero",    "one",     "two",     "ten",     "many",    "few",     "more",
        "less",    "left",   "right",   "top",     "bottom",  "middle",  "centre",  "data",    "record",
        "table",   "row",    "column",  "cell",    "grid",    "version", "release", "debug",   "test",
        "works",   "needs",  "must",    "should",  "can",     "will",    "may",     "only",    "also",
    };
    return list;
}

}  // namespace vorrel_bench::words
