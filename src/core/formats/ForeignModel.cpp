#include "core/formats/ForeignModel.h"

#include "core/formats/CloudData.h"
#include "core/formats/E57Reader.h"
#include "core/common/Paths.h"
#include "core/common/SafeFile.h"
#include "core/common/ProgressSink.h"
#include "core/common/VtkErrorCatcher.h"
#include "core/common/vtkListener.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkNew.h>
#include <vtkOBJReader.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace foreign {

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string InputFile::Open(const std::string& path)
{
    const std::string problem = safefile::SourceProblem(path);
    if (!problem.empty())
        return problem;
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::string("cannot read the file: ") + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    m_size = static_cast<unsigned long long>(st.st_size);
    return std::string();
}

std::string InputFile::ReadAll(std::string& bytes) const
{
    bytes.assign(static_cast<size_t>(m_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(m_fd, &bytes[done], bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::string("cannot read the file: ") + std::strerror(errno);
        if (n == 0)
            break; // shorter than when it was opened
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return std::string();
}

bool InputFile::ReadAt(void* out, size_t size, unsigned long long at) const
{
    auto* bytes = static_cast<unsigned char*>(out);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_fd, bytes + done, size - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Result Failed(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return Result::Failed;
}

bool IsForeignExtension(const std::string& e)
{
    return e == ".las" || e == ".laz" || e == ".ply" || e == ".pts" || e == ".obj" || e == ".stl" || HoldsScans(e);
}

const char* FormatNames() { return "LAS, PLY, PTS, OBJ, STL, E57, PTX"; }

bool HoldsScans(const std::string& e) { return e == ".e57" || e == ".ptx"; }

Result ListScans(const std::string& path, std::vector<ScanEntry>& scans, std::string* why, size_t* images)
{
    scans.clear();
    if (images)
        *images = 0;
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    if (e == ".ptx")
        return ListPtxScans(path, scans, why);
    if (e != ".e57")
        return Failed(why, "not a file of scans (E57, PTX)");
    e57::FileInfo info;
    const std::string problem = e57::Survey(path, info);
    if (!problem.empty())
        return Failed(why, problem);
    for (size_t i = 0; i < info.scans.size(); ++i) {
        const e57::Scan& s = info.scans[i];
        ScanEntry entry;
        entry.name = s.name.empty() ? "Scan " + std::to_string(i + 1) : s.name;
        entry.guid = s.guid;
        entry.points = s.records;
        scans.push_back(entry);
    }
    if (images)
        *images = info.images;
    return Result::Ok;
}

Result ReadScan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why)
{
    out = Model();
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    Result r = Result::Failed;
    if (e == ".e57")
        r = ReadE57Scan(path, index, out, sink, why);
    else if (e == ".ptx")
        r = ReadPtxScan(path, index, out, sink, why);
    else
        return Failed(why, "not a file of scans (E57, PTX)");
    if (r != Result::Ok)
        out = Model();
    return r;
}

Result Read(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    out = Model();
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    Result r;
    if (e == ".las")
        r = ReadLas(path, out, sink, why);
    else if (e == ".laz") {
        // Some tools name plain LAS files .laz; the header decides.
        r = ReadLas(path, out, sink, why);
        if (r == Result::Failed && why && why->rfind("not a LAS file", 0) == 0)
            *why = "not a LAS or LAZ file";
    } else if (e == ".ply")
        r = ReadPly(path, out, sink, why);
    else if (e == ".pts")
        r = ReadPts(path, out, sink, why);
    else if (e == ".stl")
        r = ReadStl(path, out, sink, why);
    else if (e == ".obj")
        r = ReadObj(path, out, sink, why);
    else if (HoldsScans(e)) {
        std::vector<ScanEntry> scans;
        r = ListScans(path, scans, why);
        if (r == Result::Ok && scans.size() != 1)
            r = Failed(why, scans.empty() ? "the file holds no scans"
                                          : "the file holds " + std::to_string(scans.size()) + " scans");
        if (r == Result::Ok)
            r = ReadScan(path, 0, out, sink, why);
    } else
        return fail("not a format of other programs (" + std::string(FormatNames()) + ")");
    if (r != Result::Ok)
        out = Model();
    return r;
}

} // namespace foreign
