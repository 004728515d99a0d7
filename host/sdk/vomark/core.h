// Basic value types of the host SDK: time, intervals, class ids, strings, bit arrays and the
// count-prefixed table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vomark/win32.h"

using TimeValue = int;
using SClass_ID = ULONG;
using ParamID = short;
using BlockID = short;
using FunctionID = short;

constexpr TimeValue TIME_NegInfinity = static_cast<TimeValue>(0x80000000);
constexpr TimeValue TIME_PosInfinity = 0x7fffffff;

// Host super-class codes.
constexpr SClass_ID BASENODE_CLASS_ID = 1;
constexpr SClass_ID GEN_DERIVOB_CLASS_ID = 2;
constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x10;
constexpr SClass_ID WSM_DERIVOB_CLASS_ID = 0x0d;
constexpr SClass_ID PARAMETER_BLOCK2_CLASS_ID = 0x82;
constexpr SClass_ID OSM_CLASS_ID = 0x810;
constexpr SClass_ID WSM_CLASS_ID = 0x820;

// Pipeline channel bits and their channel numbers.
constexpr ULONG TOPO_CHANNEL = 0x04;
constexpr ULONG GEOM_CHANNEL = 0x02;
constexpr ULONG SELECT_CHANNEL = 0x10;
constexpr ULONG SUBSEL_TYPE_CHANNEL = 0x20;
constexpr int NUM_OBJ_CHANS = 8;

// A closed range of ticks; start > end is empty.
class Interval {
  public:
    Interval() : start_(TIME_NegInfinity), end_(TIME_PosInfinity) {}
    Interval(TimeValue s, TimeValue e) : start_(s), end_(e) {}
    TimeValue Start() const { return start_; }
    TimeValue End() const { return end_; }
    void Set(TimeValue s, TimeValue e) {
        start_ = s;
        end_ = e;
    }
    bool InInterval(TimeValue t) const { return t >= start_ && t <= end_; }
    bool Empty() const { return start_ > end_; }
    Interval& operator&=(const Interval& o);
    bool operator==(const Interval& o) const { return start_ == o.start_ && end_ == o.end_; }

  private:
    TimeValue start_, end_;
};
inline Interval FOREVER() { return Interval(TIME_NegInfinity, TIME_PosInfinity); }

class Class_ID {
  public:
    constexpr Class_ID() : a_(0xffffffff), b_(0xffffffff) {}
    constexpr Class_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Class_ID& o) const { return a_ == o.a_ && b_ == o.b_; }

  private:
    ULONG a_, b_;
};

class Interface_ID {
  public:
    constexpr Interface_ID() : a_(0), b_(0) {}
    constexpr Interface_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Interface_ID& o) const { return a_ == o.a_ && b_ == o.b_; }

  private:
    ULONG a_, b_;
};

constexpr Class_ID triObjectClassID(0x0009, 0);

// Host string.
class CStr {
  public:
    CStr() = default;
    CStr(const char* s) : s_(s ? s : "") {}
    CStr(const std::string& s) : s_(s) {}
    const char* data() const { return s_.c_str(); }
    operator const char*() const { return s_.c_str(); }
    int Length() const { return static_cast<int>(s_.size()); }
    int printf(const char* format, ...);
    CStr& operator=(const char* s) {
        s_ = s ? s : "";
        return *this;
    }
    bool operator==(const char* s) const { return s && s_ == s; }
    const std::string& str() const { return s_; }

  private:
    std::string s_;
};

// One bit per index, kept in 64-bit words; the bits past the size stay clear. An index out of range
// reads as 0 and is ignored by the writes.
class BitArray {
  public:
    BitArray() = default;
    explicit BitArray(int n) { SetSize(n); }
    int GetSize() const { return size_; }
    void SetSize(int n, int save = 0);
    int operator[](int i) const { return InRange(i) ? static_cast<int>(words_[Word(i)] >> Shift(i) & 1) : 0; }
    void Set(int i) {
        if (InRange(i)) words_[Word(i)] |= Mask(i);
    }
    void Set(int i, int b) {
        if (InRange(i)) words_[Word(i)] = (words_[Word(i)] & ~Mask(i)) | (b != 0 ? Mask(i) : 0);
    }
    void Clear(int i) {
        if (InRange(i)) words_[Word(i)] &= ~Mask(i);
    }
    void ClearAll();
    void SetAll();
    int NumberSet() const;
    // Word-level reads for whole-array passes: bit i is bit i % 64 of word i / 64; the bits past the
    // size are clear.
    static constexpr int kWordBits = 64;
    const uint64_t* Words() const { return words_.data(); }
    int WordCount() const { return static_cast<int>(words_.size()); }

  private:
    // one unsigned comparison covers negative indexes too
    bool InRange(int i) const { return static_cast<unsigned>(i) < static_cast<unsigned>(size_); }
    static size_t Word(int i) { return static_cast<unsigned>(i) >> 6; }
    static unsigned Shift(int i) { return static_cast<unsigned>(i) & 63u; }
    static uint64_t Mask(int i) { return uint64_t{1} << Shift(i); }

    std::vector<uint64_t> words_;
    int size_ = 0;
};

// Count-prefixed table: a pointer to {count, capacity, elements...}; null when empty.
extern "C" {
int TBInsertAt(void** table, int at, int count, const void* elements, int elementSize, int extra);
int TBSetCount(void** table, int count, int elementSize, int resize);
int TBDelete(void** table, int start, int count, int elementSize);
int TBCount(void* const* table);
void zfree(void** table);
}

template <class T> class Tab {
  public:
    Tab() = default;
    Tab(const Tab&) = delete;
    Tab& operator=(const Tab&) = delete;
    ~Tab() { zfree(&storage_); }
    int Count() const { return TBCount(&storage_); }
    bool HasStorage() const { return storage_ != nullptr; }
    T* Addr(int i) const { return reinterpret_cast<T*>(static_cast<char*>(storage_) + kHeader) + i; }
    T& operator[](int i) const { return *Addr(i); }
    int SetCount(int n, int resize = 1) { return TBSetCount(&storage_, n, sizeof(T), resize); }
    int Append(int n, const T* el, int extra = 0) {
        return TBInsertAt(&storage_, Count(), n, el, sizeof(T), extra);
    }
    int Insert(int at, int n, const T* el) { return TBInsertAt(&storage_, at, n, el, sizeof(T), 0); }
    int Delete(int start, int n) { return TBDelete(&storage_, start, n, sizeof(T)); }
    void ZeroCount() {
        if (storage_) SetCount(0, 0);
    }
    void Free() { zfree(&storage_); }

    static constexpr size_t kHeader = 16;

  private:
    void* storage_ = nullptr;
};

// Assertion report: recorded by the host with source name and line; the caller goes on.
extern "C" void assert1(int line, const char* file);

struct Point3 {
    float x = 0, y = 0, z = 0;
};
