#include "core/formats/vtkForeignModelReader.h"

#include "core/formats/ForeignModel.h"
#include "core/common/ProgressSink.h"

#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>

#include <new>

vtkStandardNewMacro(vtkForeignModelReader);

namespace {

// The readers' progress as the algorithm's own: its progress events carry
// it to whoever observes, and an abort set there stops the reader.
class AlgorithmProgress : public IProgressSink {
public:
    explicit AlgorithmProgress(vtkAlgorithm* algorithm) : m_algorithm(algorithm) {}
    bool SetText(const std::string&) override { return true; }
    void SetFraction(double fraction) override { m_algorithm->UpdateProgress(fraction); }
    bool IsAborted() const override { return m_algorithm->GetAbortExecute() != 0; }

private:
    vtkAlgorithm* m_algorithm;
};

} // namespace

vtkForeignModelReader::vtkForeignModelReader() { this->SetNumberOfInputPorts(0); }

void vtkForeignModelReader::SetFileName(const std::string& path)
{
    if (path == m_path)
        return;
    m_path = path;
    this->Modified();
}

void vtkForeignModelReader::SetScan(int index)
{
    if (index == m_scan)
        return;
    m_scan = index;
    this->Modified();
}

void vtkForeignModelReader::GetModelOffset(double offset[3]) const
{
    for (int k = 0; k < 3; ++k)
        offset[k] = m_offset[k];
}

int vtkForeignModelReader::RequestData(vtkInformation*, vtkInformationVector**, vtkInformationVector* outputVector)
{
    vtkPolyData* output = vtkPolyData::GetData(outputVector);
    m_error.clear();
    m_warning.clear();
    m_offset[0] = m_offset[1] = m_offset[2] = 0.0;
    AlgorithmProgress progress(this);
    foreign::Model model;
    foreign::Result result;
    try {
        result = m_scan >= 0 ? foreign::ReadScan(m_path, static_cast<size_t>(m_scan), model, &progress, &m_error)
                             : foreign::Read(m_path, model, &progress, &m_error);
    } catch (const std::bad_alloc&) {
        result = foreign::Result::Failed;
        m_error = "not enough memory";
    } catch (const std::exception& e) {
        result = foreign::Result::Failed;
        m_error = std::string("cannot read the file: ") + e.what();
    }
    if (result != foreign::Result::Ok) {
        if (result == foreign::Result::Aborted)
            m_error = "aborted";
        output->Initialize();
        return 1;
    }
    output->ShallowCopy(model.data);
    m_warning = model.warning;
    for (int k = 0; k < 3; ++k)
        m_offset[k] = model.offset[k];
    return 1;
}
