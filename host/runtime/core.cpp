// Value types of the SDK: intervals, strings, bit arrays, count-prefixed tables, file names.

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sel/files.h"
#include "runtime/host_record.h"

Interval& Interval::operator&=(const Interval& o) {
    start_ = std::max(start_, o.start_);
    end_ = std::min(end_, o.end_);
    return *this;
}

int CStr::printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        va_end(ap);
        return n;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, ap);
    va_end(ap);
    out.resize(static_cast<size_t>(n));
    s_ = std::move(out);
    return n;
}

void BitArray::SetSize(int n, int save) {
    if (n < 0) n = 0;
    size_t words = (static_cast<size_t>(n) + 63) / 64;
    if (!save) {
        words_.assign(words, 0);
    } else {
        // a shrink clears the bits past the new size, so that a later grow finds them clear
        words_.resize(words, 0);
        if (n % 64 != 0) words_.back() &= (uint64_t{1} << (n % 64)) - 1;
    }
    size_ = n;
}
void BitArray::ClearAll() { std::fill(words_.begin(), words_.end(), 0); }
void BitArray::SetAll() {
    std::fill(words_.begin(), words_.end(), ~uint64_t{0});
    if (size_ % 64 != 0) words_.back() = (uint64_t{1} << (size_ % 64)) - 1;
}
int BitArray::NumberSet() const {
    int count = 0;
    for (uint64_t w : words_)
        count += std::popcount(w);
    return count;
}

// Table layout: int count, int capacity, 8 bytes padding, then the elements.
namespace {
struct TableHeader {
    int count;
    int capacity;
    int pad[2];
};
static_assert(sizeof(TableHeader) == Tab<int>::kHeader);

TableHeader* Header(void* table) { return static_cast<TableHeader*>(table); }
char* Elements(void* table) { return static_cast<char*>(table) + sizeof(TableHeader); }

// Makes room for `capacity` elements; answers 0 when memory runs out.
int Reserve(void** table, int capacity, int elementSize) {
    if (*table && Header(*table)->capacity >= capacity) return 1;
    size_t bytes = sizeof(TableHeader) + static_cast<size_t>(capacity) * static_cast<size_t>(elementSize);
    void* grown = std::realloc(*table, bytes);
    if (!grown) return 0;
    if (!*table) Header(grown)->count = 0;
    Header(grown)->capacity = capacity;
    *table = grown;
    return 1;
}
} // namespace

extern "C" int TBCount(void* const* table) { return *table ? Header(*table)->count : 0; }

extern "C" int TBInsertAt(void** table, int at, int count, const void* elements, int elementSize, int extra) {
    int old = TBCount(table);
    if (count < 0 || at < 0 || at > old) return -1;
    if (!Reserve(table, old + count + (extra > 0 ? extra : 0), elementSize)) return -1;
    char* base = Elements(*table);
    std::memmove(base + (at + count) * elementSize, base + at * elementSize,
                 static_cast<size_t>(old - at) * elementSize);
    if (elements && count > 0)
        std::memcpy(base + at * elementSize, elements, static_cast<size_t>(count) * elementSize);
    Header(*table)->count = old + count;
    return at;
}

extern "C" int TBSetCount(void** table, int count, int elementSize, int resize) {
    if (count < 0) return 0;
    if (count == 0 && !*table) return 1;
    if (!Reserve(table, count, elementSize)) return 0;
    Header(*table)->count = count;
    return 1;
}

extern "C" int TBDelete(void** table, int start, int count, int elementSize) {
    int old = TBCount(table);
    if (start < 0 || count <= 0 || start >= old) return old;
    count = std::min(count, old - start);
    char* base = Elements(*table);
    std::memmove(base + start * elementSize, base + (start + count) * elementSize,
                 static_cast<size_t>(old - start - count) * elementSize);
    Header(*table)->count = old - count;
    return old - count;
}

extern "C" void zfree(void** table) {
    std::free(*table);
    *table = nullptr;
}

extern "C" void assert1(int line, const char* file) {
    vm::Record().asserts.push_back({line, file ? file : ""});
    vm::Record().Echo("assertion: " + std::string(file ? file : "?") + " line " + std::to_string(line));
}

BOOL DoesFileExist(const char* path) {
    return path && *path && sel::KindOf(path) == sel::FileKind::Plain;
}

void SplitPathFile(const CStr& path, CStr* directory, CStr* file) {
    const std::string& s = path.str();
    size_t cut = s.find_last_of("/\\");
    if (cut == std::string::npos) {
        if (directory) *directory = "";
        if (file) *file = s;
        return;
    }
    if (directory) *directory = s.substr(0, cut);
    if (file) *file = s.substr(cut + 1);
}

void FilterList::Append(const char* text) {
    if (!buffer_.empty()) buffer_.pop_back(); // drop the list terminator before adding
    buffer_.append(text ? text : "");
    buffer_.push_back('\0');
    buffer_.push_back('\0');
}

namespace vm {
void HostRecord::Clear() {
    notifications.clear();
    redraws.clear();
    asserts.clear();
    log.clear();
    messageBoxes.clear();
    filePrompts.clear();
    macroLines.clear();
    commonControlsInits = customControlsInits = escapePresses = 0;
}
HostRecord& Record() {
    static HostRecord record;
    return record;
}
} // namespace vm
