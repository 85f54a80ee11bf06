#include "core/formats/XmlPolyData.h"

#include "core/common/MappedFile.h"
#include "core/formats/XmlScan.h"

#include <isa-l/igzip_lib.h>

#include <vtkAbstractArray.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkDataSetAttributes.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTypeInt32Array.h>
#include <vtkTypeInt64Array.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace xmlpoly {
namespace {

using xmlscan::IsSpace;
using xmlscan::NextTag;
using xmlscan::ParseCount;
using xmlscan::Stream;
using xmlscan::Tag;

// ---------------------------------------------------------------- arrays

struct TypeInfo {
    const char* name;
    int vtkType;
    int size;
};
const TypeInfo kTypes[] = {
    {"Int8", VTK_TYPE_INT8, 1},     {"UInt8", VTK_TYPE_UINT8, 1},   {"Int16", VTK_TYPE_INT16, 2},
    {"UInt16", VTK_TYPE_UINT16, 2}, {"Int32", VTK_TYPE_INT32, 4},   {"UInt32", VTK_TYPE_UINT32, 4},
    {"Int64", VTK_TYPE_INT64, 8},   {"UInt64", VTK_TYPE_UINT64, 8}, {"Float32", VTK_TYPE_FLOAT32, 4},
    {"Float64", VTK_TYPE_FLOAT64, 8},
};

enum class Owner { PointData, CellData, Points, Cells };
const char* const kCellKinds[] = {"Verts", "Lines", "Strips", "Polys"};

struct ArraySpec {
    Owner owner = Owner::PointData;
    int cellKind = 0;     // Verts, Lines, Strips, Polys
    bool offsets = false; // the cells' end offsets (else their connectivity)
    std::string name;
    int vtkType = 0;
    int elementSize = 0;
    int components = 1;
    std::vector<std::pair<int, std::string>> componentNames;
    Stream stream;       // where the array's header starts
    bool appended = false;
    bool headerRead = false;
    uint64_t appendedOffset = 0;

    // From its header:
    bool compressed = false;
    uint64_t bytes = 0;  // decoded size
    Stream data;         // where its (compressed) data starts
    std::vector<uint64_t> blockSizes; // compressed sizes
    uint64_t blockSize = 0, lastBlock = 0;

    vtkSmartPointer<vtkDataArray> array;
    unsigned char* dest = nullptr;
    bool onlyChecked = false; // vertex cells checked to be one per point, not kept
};

struct Task {
    ArraySpec* array;
    uint64_t in;   // offset in the array's data stream
    uint64_t inSize;
    uint64_t out;  // offset in the decoded array
    uint64_t outSize;
};

// Arrays of hundreds of MB filled once: large pages spare the kernel a
// fault for every 4 KB (where the system allows them on request).
void AdviseHugePages(void* p, size_t bytes)
{
    const uintptr_t huge = uintptr_t(2) << 20;
    const uintptr_t a = (reinterpret_cast<uintptr_t>(p) + huge - 1) & ~(huge - 1);
    const uintptr_t b = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(huge - 1);
    if (p && b > a)
        ::madvise(reinterpret_cast<void*>(a), b - a, MADV_HUGEPAGE);
}

Outcome Unsupported(std::string* why, const std::string& what)
{
    *why = what;
    return Outcome::Unsupported;
}

Outcome Failed(std::string* why, const std::string& what)
{
    *why = what;
    return Outcome::Failed;
}

uint64_t Word(const unsigned char* p, int size)
{
    uint64_t v = 0;
    std::memcpy(&v, p, static_cast<size_t>(size)); // little-endian host and file
    return v;
}

// Reads an array's header: its decoded size and, when compressed, its
// blocks, each checked against what the stream can hold.
bool ReadHeader(ArraySpec& a, bool compressed, int word, std::string* why)
{
    const std::string label = "array \"" + a.name + "\"";
    unsigned char head[24];
    a.compressed = compressed;
    if (!compressed) {
        if (!a.stream.Fetch(0, static_cast<size_t>(word), head))
            return *why = label + ": its data is cut off", false;
        a.bytes = Word(head, word);
        a.data = a.stream; // header and data are one run
        const uint64_t room = a.stream.base64 ? a.stream.length / 4 * 3 : a.stream.length;
        if (a.bytes > room - static_cast<uint64_t>(word))
            return *why = label + ": the file declares more data than it holds", false;
        return true;
    }
    if (!a.stream.Fetch(0, static_cast<size_t>(3 * word), head))
        return *why = label + ": its data is cut off", false;
    const uint64_t blocks = Word(head, word);
    a.blockSize = Word(head + word, word);
    a.lastBlock = Word(head + 2 * word, word);
    // Each block takes at least one byte of the file.
    const uint64_t room = a.stream.base64 ? a.stream.length / 4 * 3 : a.stream.length;
    if (blocks > room / static_cast<uint64_t>(word))
        return *why = label + ": the file declares more data than it holds (" + std::to_string(blocks) + " blocks)",
               false;
    if ((blocks > 0 && a.blockSize == 0) || a.lastBlock > a.blockSize)
        return *why = label + ": its block header is damaged", false;
    std::vector<unsigned char> sizes(static_cast<size_t>(blocks) * static_cast<size_t>(word));
    if (blocks > 0 && !a.stream.Fetch(static_cast<uint64_t>(3 * word), sizes.size(), sizes.data()))
        return *why = label + ": its data is cut off", false;
    a.blockSizes.resize(static_cast<size_t>(blocks));
    uint64_t total = 0;
    for (size_t i = 0; i < a.blockSizes.size(); ++i) {
        a.blockSizes[i] = Word(sizes.data() + i * static_cast<size_t>(word), word);
        total += a.blockSizes[i];
        if (a.blockSizes[i] > room || total > room)
            return *why = label + ": the file declares more data than it holds (blocks larger than the file)", false;
    }
    const uint64_t headerBytes = (3 + blocks) * static_cast<uint64_t>(word);
    a.data = a.stream.After(headerBytes);
    if (blocks == 0)
        a.bytes = 0;
    else {
        if (a.blockSize > (UINT64_MAX - a.blockSize) / blocks)
            return *why = label + ": its block header is damaged", false;
        a.bytes = (blocks - 1) * a.blockSize + (a.lastBlock ? a.lastBlock : a.blockSize);
    }
    // No zlib stream expands more than about 1032 times.
    if (a.bytes / 1100 > total + 64)
        return *why = label + ": the file declares more data than it holds", false;
    return true;
}

// What the XML says: the layout, the piece's counts, the arrays and where
// their data lies.
struct Layout {
    bool compressed = false;
    int word = 4; // bytes of a block header's numbers
    uint64_t counts[5] = {0, 0, 0, 0, 0}; // points, verts, lines, strips, polys
    std::string activeNames[2][vtkDataSetAttributes::NUM_ATTRIBUTES]; // point, cell data
    std::vector<ArraySpec> arrays;
    const char* appendedBase = nullptr;
    bool appendedBase64 = false;
};

// Scans the XML up to the appended data (inline data is stepped over using
// each array's block header); Read when the file is one this reader takes.
Outcome ScanXml(const char* begin, const char* end, Layout& layout, std::string* why)
{
    bool& compressed = layout.compressed;
    int& word = layout.word;
    uint64_t* counts = layout.counts;
    std::vector<ArraySpec>& arrays = layout.arrays;
    const char*& appendedBase = layout.appendedBase;
    bool& appendedBase64 = layout.appendedBase64;
    int pieces = 0;
    std::vector<std::string> stack;
    Owner section = Owner::PointData;
    int cellKind = -1;
    bool seenFile = false;
    for (const char* p = begin;;) {
        Tag tag;
        std::string error;
        if (!NextTag(p, end, tag, &error)) {
            if (!error.empty())
                return Failed(why, error);
            break;
        }
        if (tag.closing) {
            if (stack.empty() || stack.back() != tag.name)
                return Failed(why, "the XML closes <" + tag.name.substr(0, 40) + "> that is not open");
            stack.pop_back();
            continue;
        }
        const std::string parent = stack.empty() ? std::string() : stack.back();
        if (tag.name == "VTKFile") {
            const std::string* type = tag.Get("type");
            if (!type || *type != "PolyData")
                return Unsupported(why, "not poly data");
            const std::string* order = tag.Get("byte_order");
            if (order && *order != "LittleEndian")
                return Unsupported(why, "big-endian data");
            if (const std::string* header = tag.Get("header_type")) {
                if (*header == "UInt64")
                    word = 8;
                else if (*header != "UInt32")
                    return Unsupported(why, "block headers of type " + *header);
            }
            if (const std::string* compressor = tag.Get("compressor")) {
                if (*compressor != "vtkZLibDataCompressor")
                    return Unsupported(why, "blocks of " + *compressor);
                compressed = true;
            }
            seenFile = true;
        } else if (!seenFile) {
            return Unsupported(why, "not a VTK XML file");
        } else if (tag.name == "Piece" && parent == "PolyData") {
            if (++pieces > 1)
                return Unsupported(why, "several pieces");
            const char* const keys[5] = {"NumberOfPoints", "NumberOfVerts", "NumberOfLines", "NumberOfStrips",
                                         "NumberOfPolys"};
            for (int k = 0; k < 5; ++k)
                if (!ParseCount(tag.Get(keys[k]), counts[k]))
                    return Failed(why, std::string("the piece's ") + keys[k] + " is not a count");
        } else if ((tag.name == "PointData" || tag.name == "CellData") && parent == "Piece") {
            section = tag.name == "PointData" ? Owner::PointData : Owner::CellData;
            const int which = section == Owner::PointData ? 0 : 1;
            for (int k = 0; k < vtkDataSetAttributes::NUM_ATTRIBUTES; ++k)
                if (const std::string* name = tag.Get(vtkDataSetAttributes::GetAttributeTypeAsString(k)))
                    layout.activeNames[which][k] = *name;
        } else if (tag.name == "Points" && parent == "Piece") {
            section = Owner::Points;
        } else if (parent == "Piece" && std::find(std::begin(kCellKinds), std::end(kCellKinds), tag.name) !=
                                            std::end(kCellKinds)) {
            section = Owner::Cells;
            cellKind = static_cast<int>(std::find(std::begin(kCellKinds), std::end(kCellKinds), tag.name) -
                                        std::begin(kCellKinds));
        } else if (tag.name == "DataArray") {
            const bool inPiece = parent == "PointData" || parent == "CellData" || parent == "Points" ||
                                 (parent != "" && std::find(std::begin(kCellKinds), std::end(kCellKinds), parent) !=
                                                      std::end(kCellKinds));
            if (!inPiece)
                return Unsupported(why, "arrays outside the piece's data (" + parent.substr(0, 40) + ")");
            ArraySpec a;
            a.owner = section;
            a.cellKind = cellKind;
            const std::string* name = tag.Get("Name");
            a.name = name ? *name : std::string();
            if (section == Owner::Cells) {
                if (a.name == "offsets")
                    a.offsets = true;
                else if (a.name != "connectivity")
                    return Unsupported(why, "cell array \"" + a.name.substr(0, 40) + "\"");
            }
            const std::string* type = tag.Get("type");
            const TypeInfo* info = nullptr;
            for (const TypeInfo& t : kTypes)
                if (type && *type == t.name)
                    info = &t;
            if (!info)
                return Unsupported(why, "arrays of type " + (type ? type->substr(0, 40) : std::string("(none)")));
            a.vtkType = info->vtkType;
            a.elementSize = info->size;
            const std::string* idType = tag.Get("IdType");
            if (idType && *idType == "1" && info->size == static_cast<int>(sizeof(vtkIdType)))
                a.vtkType = VTK_ID_TYPE;
            uint64_t components = 1;
            if (tag.Get("NumberOfComponents") &&
                (!ParseCount(tag.Get("NumberOfComponents"), components) || components < 1 || components > 1024))
                return Failed(why, "array \"" + a.name + "\" has a bad number of components");
            a.components = static_cast<int>(components);
            for (const auto& attribute : tag.attributes)
                if (attribute.first.rfind("ComponentName", 0) == 0) {
                    uint64_t index = 0;
                    const std::string digits = attribute.first.substr(13);
                    if (ParseCount(&digits, index) && index < components)
                        a.componentNames.emplace_back(static_cast<int>(index), attribute.second);
                }
            const std::string* format = tag.Get("format");
            if (!format || *format == "ascii")
                return Unsupported(why, "ASCII data");
            if (*format == "appended") {
                a.appended = true;
                if (!ParseCount(tag.Get("offset"), a.appendedOffset) || !tag.Get("offset"))
                    return Failed(why, "array \"" + a.name + "\" has no offset");
            } else if (*format == "binary") {
                if (tag.selfClosing)
                    return Failed(why, "array \"" + a.name + "\" has no data");
                const char* text = tag.after;
                while (text < end && IsSpace(*text))
                    ++text;
                // The header tells how long the base64 runs are: the scan
                // steps over the data without reading it.
                a.stream = {text, static_cast<size_t>(end - text), true};
                if (!ReadHeader(a, compressed, word, why))
                    return Outcome::Failed;
                uint64_t chars = 0;
                if (compressed) {
                    uint64_t total = 0;
                    for (uint64_t size : a.blockSizes)
                        total += size;
                    chars = ((3 + a.blockSizes.size()) * static_cast<uint64_t>(word) + 2) / 3 * 4 + (total + 2) / 3 * 4;
                } else {
                    chars = (static_cast<uint64_t>(word) + a.bytes + 2) / 3 * 4;
                }
                if (chars > static_cast<uint64_t>(end - text))
                    return Failed(why, "array \"" + a.name + "\": its data is cut off");
                const char* rest = text + chars;
                while (rest < end && IsSpace(*rest))
                    ++rest;
                // Base64 broken into lines, or more than the header says:
                // a layout this reader leaves to VTK.
                if (rest >= end || *rest != '<')
                    return Unsupported(why, "base64 data laid out otherwise");
                a.stream.length = static_cast<size_t>(chars);
                if (!ReadHeader(a, compressed, word, why))
                    return Outcome::Failed;
                a.headerRead = true;
                p = rest;
            } else {
                return Unsupported(why, "data of format " + format->substr(0, 40));
            }
            arrays.push_back(std::move(a));
        } else if (tag.name == "AppendedData") {
            const std::string* encoding = tag.Get("encoding");
            appendedBase64 = encoding && *encoding == "base64";
            if (encoding && !appendedBase64 && *encoding != "raw")
                return Unsupported(why, "appended data encoded as " + encoding->substr(0, 40));
            const char* underscore = static_cast<const char*>(std::memchr(p, '_', static_cast<size_t>(end - p)));
            if (!underscore)
                return Failed(why, "the appended data has no start mark");
            appendedBase = underscore + 1;
            break; // raw bytes follow: no more XML to read
        } else if (tag.name == "FieldData") {
            if (!tag.selfClosing)
                stack.push_back(tag.name);
            continue; // its arrays are refused where they are met
        } else if (tag.name == "InformationKey" || tag.name == "Value") {
            // Array information (norm ranges): not kept.
        } else if (tag.name != "PolyData") {
            return Unsupported(why, "element <" + tag.name.substr(0, 40) + ">");
        }
        if (!tag.selfClosing)
            stack.push_back(tag.name);
    }
    if (!seenFile)
        return Unsupported(why, "not a VTK XML file");
    // A file cut short loses its closing tags first: what is not closed is
    // not trusted, whatever the arrays hold.
    if (appendedBase) {
        const size_t tail = std::min<size_t>(static_cast<size_t>(end - begin), 256);
        const std::string last(end - tail, end);
        if (last.find("</AppendedData>") == std::string::npos || last.find("</VTKFile>") == std::string::npos)
            return Failed(why, "the file is cut off (its appended data does not end)");
    } else if (!stack.empty()) {
        return Failed(why, "the file is cut off (<" + stack.back() + "> is not closed)");
    }
    if (pieces == 0)
        return Unsupported(why, "no piece");
    return Outcome::Read;
}

} // namespace

Outcome Read(const std::string& path, vtkPolyData* out, std::string* why, const Options& options)
{
    std::string scratch;
    if (!why)
        why = &scratch;
    out->Initialize();
    MappedFile file;
    if (!file.Open(path, why))
        return Outcome::Failed;
    if (file.Size() == 0)
        return Failed(why, "the file is empty");
    const char* const begin = file.Data();
    const char* const end = begin + file.Size();

    Layout layout;
    const Outcome scanned = ScanXml(begin, end, layout, why);
    if (scanned != Outcome::Read)
        return scanned;
    const bool compressed = layout.compressed;
    const int word = layout.word;
    const uint64_t* counts = layout.counts;
    std::vector<ArraySpec>& arrays = layout.arrays;
    const char* const appendedBase = layout.appendedBase;
    const bool appendedBase64 = layout.appendedBase64;

    // ---- every array's header, its size against the declared counts
    const uint64_t points = counts[0];
    const uint64_t cells = counts[1] + counts[2] + counts[3] + counts[4];
    bool hasPoints = false;
    const bool verticesOnly = options.dropOneVertexPerPoint && points > 0 && counts[1] == points &&
                              counts[2] == 0 && counts[3] == 0 && counts[4] == 0;
    for (ArraySpec& a : arrays) {
        if (a.appended) {
            if (!appendedBase)
                return Failed(why, "array \"" + a.name + "\" lies in appended data the file does not have");
            const size_t room = static_cast<size_t>(end - appendedBase);
            if (a.appendedOffset > room)
                return Failed(why, "array \"" + a.name + "\" lies beyond the end of the file");
            a.stream = {appendedBase + a.appendedOffset, room - static_cast<size_t>(a.appendedOffset), appendedBase64};
        }
        if (!a.headerRead && !ReadHeader(a, compressed, word, why))
            return Outcome::Failed;
        uint64_t tuples = 0;
        switch (a.owner) {
        case Owner::PointData: tuples = points; break;
        case Owner::CellData: tuples = cells; break;
        case Owner::Points:
            tuples = points;
            hasPoints = true;
            if (a.components != 3)
                return Failed(why, "the points do not have three coordinates");
            break;
        case Owner::Cells:
            tuples = a.offsets ? counts[1 + a.cellKind] : a.bytes / static_cast<uint64_t>(a.elementSize);
            break;
        }
        const uint64_t item = static_cast<uint64_t>(a.elementSize) * static_cast<uint64_t>(a.components);
        if (tuples > UINT64_MAX / item || a.bytes != tuples * item)
            return Failed(why, "array \"" + a.name + "\" holds " + std::to_string(a.bytes) + " bytes where " +
                                   std::to_string(tuples) + " values were declared");
        // One more offset in memory: the first cell's start, always 0.
        const uint64_t kept = tuples + (a.owner == Owner::Cells && a.offsets ? 1 : 0);
        if (kept > static_cast<uint64_t>(VTK_ID_MAX) / static_cast<uint64_t>(a.components))
            return Failed(why, "array \"" + a.name + "\" is too large");
        if (a.owner == Owner::Cells && verticesOnly && a.cellKind == 0 &&
            (a.elementSize == 4 || a.elementSize == 8) && a.vtkType != VTK_TYPE_FLOAT64 && a.vtkType != VTK_TYPE_FLOAT32) {
            a.onlyChecked = true;
            continue;
        }
        if (a.owner == Owner::Cells) {
            if (a.elementSize == 4 && (a.vtkType == VTK_TYPE_INT32 || a.vtkType == VTK_TYPE_UINT32))
                a.array = vtkSmartPointer<vtkTypeInt32Array>::New();
            else if (a.elementSize == 8 && a.vtkType != VTK_TYPE_FLOAT64)
                a.array = vtkSmartPointer<vtkTypeInt64Array>::New();
            else
                return Unsupported(why, "cells of other than 32- or 64-bit integers");
        } else {
            a.array.TakeReference(vtkDataArray::CreateDataArray(a.vtkType));
            if (!a.array)
                return Unsupported(why, "arrays of VTK type " + std::to_string(a.vtkType));
        }
        a.array->SetNumberOfComponents(a.components);
        a.array->SetName(a.name.c_str());
        for (const auto& component : a.componentNames)
            a.array->SetComponentName(component.first, component.second.c_str());
        try {
            a.array->SetNumberOfTuples(static_cast<vtkIdType>(kept));
        } catch (const std::bad_alloc&) {
            return Failed(why, "not enough memory");
        }
        if (kept > 0 && !a.array->GetVoidPointer(0))
            return Failed(why, "not enough memory");
        a.dest = kept > 0 ? static_cast<unsigned char*>(a.array->GetVoidPointer(0)) : nullptr;
        AdviseHugePages(a.dest, static_cast<size_t>(kept * item));
        if (a.owner == Owner::Cells && a.offsets) {
            std::memset(a.dest, 0, static_cast<size_t>(a.elementSize));
            a.dest += a.elementSize;
        }
    }
    if (points > 0 && !hasPoints)
        return Failed(why, "the file declares points but holds none");
    // A cloud of one vertex per point has as many ids as points.
    for (const ArraySpec& a : arrays)
        if (a.onlyChecked && !a.offsets && a.bytes / static_cast<uint64_t>(a.elementSize) != points) {
            Options again = options;
            again.dropOneVertexPerPoint = false;
            return Read(path, out, why, again);
        }
    if (options.implicitVertices)
        *options.implicitVertices = false;
    // Cells need both arrays of one width.
    for (int kind = 0; kind < 4; ++kind) {
        const ArraySpec* o = nullptr;
        const ArraySpec* c = nullptr;
        for (const ArraySpec& a : arrays)
            if (a.owner == Owner::Cells && a.cellKind == kind)
                (a.offsets ? o : c) = &a;
        if ((o || c || counts[1 + kind]) && (!o || !c))
            return Failed(why, std::string("the ") + kCellKinds[kind] + " lack their offsets or connectivity");
        if (o && o->elementSize != c->elementSize)
            return Unsupported(why, "cell arrays of two widths");
    }

    // ---- the work: every block (or slice of an uncompressed array)
    std::vector<Task> tasks;
    for (ArraySpec& a : arrays) {
        if (a.compressed) {
            uint64_t in = 0, out = 0;
            for (size_t i = 0; i < a.blockSizes.size(); ++i) {
                const uint64_t size = i + 1 == a.blockSizes.size() && a.lastBlock ? a.lastBlock : a.blockSize;
                tasks.push_back({&a, in, a.blockSizes[i], out, size});
                in += a.blockSizes[i];
                out += size;
            }
        } else {
            const uint64_t slice = 4u << 20;
            for (uint64_t out = 0; out < a.bytes; out += slice)
                tasks.push_back({&a, static_cast<uint64_t>(word) + out, 0, out, std::min(slice, a.bytes - out)});
        }
    }
    std::atomic<size_t> next{0}, done{0};
    std::unique_ptr<std::atomic<unsigned char>[]> finished(new std::atomic<unsigned char>[tasks.size() + 1]);
    for (size_t t = 0; t < tasks.size(); ++t)
        finished[t].store(0);
    // The file's bytes behind finished tasks leave the process's memory,
    // in runs, from the calling thread.
    size_t released = 0;
    auto release = [&] {
        const char* from = nullptr;
        const char* to = nullptr;
        for (; released < tasks.size() && finished[released].load(std::memory_order_acquire); ++released) {
            const Task& task = tasks[released];
            const Stream& in = task.array->data;
            const uint64_t size = task.array->compressed ? task.inSize : task.outSize;
            const uint64_t a = in.base64 ? task.in / 3 * 4 : task.in;
            const uint64_t b = in.base64 ? (task.in + size) / 3 * 4 : task.in + size;
            if (b > in.length)
                continue;
            if (from && in.begin + a != to) {
                file.Release(from, to);
                from = nullptr;
            }
            if (!from)
                from = in.begin + a;
            to = in.begin + b;
        }
        if (from)
            file.Release(from, to);
    };
    std::atomic<bool> stop{false};
    std::atomic<bool> notOnePerPoint{false};
    std::string failure;
    std::atomic<bool> failed{false};
    auto work = [&] {
        std::vector<unsigned char> buffer, scratch;
        inflate_state state;
        for (size_t t; !stop && (t = next++) < tasks.size(); ++done) {
            const Task& task = tasks[t];
            ArraySpec& a = *task.array;
            if (a.onlyChecked)
                scratch.resize(static_cast<size_t>(task.outSize));
            unsigned char* dest = a.onlyChecked ? scratch.data() : a.dest + task.out;
            std::string problem;
            if (!a.compressed) {
                if (!a.data.Fetch(task.in, static_cast<size_t>(task.outSize), dest))
                    problem = "its data is cut off or damaged";
            } else {
                const unsigned char* in = nullptr;
                if (a.data.base64) {
                    buffer.resize(static_cast<size_t>(task.inSize));
                    if (a.data.Fetch(task.in, buffer.size(), buffer.data()))
                        in = buffer.data();
                } else if (task.in <= a.data.length && task.inSize <= a.data.length - task.in) {
                    in = reinterpret_cast<const unsigned char*>(a.data.begin + task.in);
                }
                if (!in) {
                    problem = "its data is cut off or damaged";
                } else {
                    isal_inflate_init(&state);
                    state.crc_flag = ISAL_ZLIB;
                    state.next_in = const_cast<unsigned char*>(in);
                    state.avail_in = static_cast<uint32_t>(task.inSize);
                    state.next_out = dest;
                    state.avail_out = static_cast<uint32_t>(task.outSize);
                    const int r = task.inSize > UINT32_MAX || task.outSize > UINT32_MAX ? -1 : isal_inflate(&state);
                    if (r != ISAL_DECOMP_OK || state.block_state != ISAL_BLOCK_FINISH || state.avail_out != 0)
                        problem = "a block does not inflate (the file is damaged)";
                }
            }
            if (a.onlyChecked && problem.empty() && !notOnePerPoint) {
                // Connectivity i is i; the end offset of cell i is i + 1.
                const int size = a.elementSize;
                const int64_t first = static_cast<int64_t>(task.out / static_cast<uint64_t>(size)) + (a.offsets ? 1 : 0);
                const size_t n = static_cast<size_t>(task.outSize) / static_cast<size_t>(size);
                bool same = true;
                if (size == 4) {
                    const int32_t* v = reinterpret_cast<const int32_t*>(scratch.data());
                    for (size_t i = 0; i < n && same; ++i)
                        same = v[i] == first + static_cast<int64_t>(i);
                } else {
                    const int64_t* v = reinterpret_cast<const int64_t*>(scratch.data());
                    for (size_t i = 0; i < n && same; ++i)
                        same = v[i] == first + static_cast<int64_t>(i);
                }
                if (!same)
                    notOnePerPoint = true;
            }
            finished[t].store(1, std::memory_order_release);
            if (!problem.empty() && !failed.exchange(true)) {
                failure = "array \"" + a.name + "\": " + problem;
                stop = true;
            }
        }
    };
    unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, tasks.size())));
    std::vector<std::thread> workers;
    // With progress to report, the calling thread watches and every core
    // works; otherwise it is one of the workers.
    const unsigned started = options.progress ? threads : threads - 1;
    try {
        for (unsigned i = 0; i < started; ++i)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads; the calling one works too.
    }
    if (workers.empty() || !options.progress) {
        work();
    } else {
        // The calling thread reports progress and hears Abort.
        while (done < tasks.size() && !stop) {
            if (!options.progress(static_cast<double>(done) / static_cast<double>(tasks.size())))
                stop = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            release();
        }
    }
    for (std::thread& w : workers)
        w.join();
    if (failed)
        return Failed(why, failure);
    if (stop)
        return Outcome::Aborted;
    if (notOnePerPoint) {
        // Vertex cells of their own order: read them as they are.
        Options again = options;
        again.dropOneVertexPerPoint = false;
        return Read(path, out, why, again);
    }

    // ---- the poly data
    for (ArraySpec& a : arrays)
        if (a.owner == Owner::Cells && a.offsets && !a.onlyChecked) {
            // Offsets that run backwards or past the connectivity would be
            // followed out of the arrays when drawn.
            const ArraySpec* c = nullptr;
            for (const ArraySpec& b : arrays)
                if (b.owner == Owner::Cells && !b.offsets && b.cellKind == a.cellKind)
                    c = &b;
            const vtkIdType n = a.array->GetNumberOfTuples();
            const long long size = c ? static_cast<long long>(c->array->GetNumberOfTuples()) : 0;
            bool sound = true;
            auto check = [&](const auto* o) {
                for (vtkIdType i = 1; i < n && sound; ++i)
                    sound = o[i] >= o[i - 1];
                sound = sound && static_cast<long long>(o[n - 1]) == size;
            };
            if (a.elementSize == 4)
                check(static_cast<const int32_t*>(a.array->GetVoidPointer(0)));
            else
                check(static_cast<const int64_t*>(a.array->GetVoidPointer(0)));
            if (!sound)
                return Failed(why, std::string("the ") + kCellKinds[a.cellKind] + "' offsets are damaged");
        }
    vtkSmartPointer<vtkCellArray> cellArrays[4];
    for (int kind = 0; kind < 4; ++kind) {
        cellArrays[kind] = vtkSmartPointer<vtkCellArray>::New();
        vtkDataArray* o = nullptr;
        vtkDataArray* c = nullptr;
        for (ArraySpec& a : arrays)
            if (a.owner == Owner::Cells && a.cellKind == kind && !a.onlyChecked)
                (a.offsets ? o : c) = a.array;
        if (o && c && !cellArrays[kind]->SetData(o, c))
            return Failed(why, std::string("the ") + kCellKinds[kind] + " cannot be built");
    }
    for (ArraySpec& a : arrays) {
        if (a.owner == Owner::Points) {
            vtkNew<vtkPoints> pts;
            pts->SetData(a.array);
            out->SetPoints(pts);
        } else if (a.owner == Owner::PointData) {
            out->GetPointData()->AddArray(a.array);
        } else if (a.owner == Owner::CellData) {
            out->GetCellData()->AddArray(a.array);
        }
    }
    if (!out->GetPoints())
        out->SetPoints(vtkSmartPointer<vtkPoints>::New());
    out->SetVerts(cellArrays[0]);
    out->SetLines(cellArrays[1]);
    out->SetStrips(cellArrays[2]);
    out->SetPolys(cellArrays[3]);
    if (options.implicitVertices)
        for (const ArraySpec& a : arrays)
            if (a.onlyChecked)
                *options.implicitVertices = true;
    for (int which = 0; which < 2; ++which) {
        vtkDataSetAttributes* attributes =
            which == 0 ? static_cast<vtkDataSetAttributes*>(out->GetPointData()) : out->GetCellData();
        for (int k = 0; k < vtkDataSetAttributes::NUM_ATTRIBUTES; ++k)
            if (!layout.activeNames[which][k].empty())
                attributes->SetActiveAttribute(layout.activeNames[which][k].c_str(), k);
    }
    return Outcome::Read;
}

} // namespace xmlpoly
