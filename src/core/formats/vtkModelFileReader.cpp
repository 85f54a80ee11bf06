#include "core/formats/vtkModelFileReader.h"

#include "core/common/VtkErrorCatcher.h"
#include "core/formats/XmlPolyData.h"

#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkInformation.h>
#include <vtkInformationVector.h>
#include <vtkObjectFactory.h>
#include <vtkPolyData.h>
#include <vtkPolyDataReader.h>
#include <vtkSmartPointer.h>
#include <vtkXMLPPolyDataReader.h>
#include <vtkXMLPolyDataReader.h>

#include <new>

vtkStandardNewMacro(vtkModelFileReader);

namespace {

// The inner reader's progress as ours, so that Abort reaches it.
void OnInnerProgress(vtkObject* caller, unsigned long, void* clientData, void* callData)
{
    auto* owner = static_cast<vtkModelFileReader*>(clientData);
    owner->UpdateProgress(*static_cast<double*>(callData));
    if (owner->GetAbortExecute())
        static_cast<vtkAlgorithm*>(caller)->SetAbortExecute(1);
}

} // namespace

namespace {
bool g_parallelForNewReaders = true;
}

void vtkModelFileReader::SetParallelForNewReaders(bool parallel) { g_parallelForNewReaders = parallel; }

vtkModelFileReader::vtkModelFileReader() : m_parallel(g_parallelForNewReaders) { this->SetNumberOfInputPorts(0); }

void vtkModelFileReader::SetFileName(const std::string& path, const std::string& lowerExtension)
{
    if (path == m_path && lowerExtension == m_extension)
        return;
    m_path = path;
    m_extension = lowerExtension;
    this->Modified();
}

int vtkModelFileReader::RequestData(vtkInformation*, vtkInformationVector**, vtkInformationVector* outputVector)
{
    vtkPolyData* output = vtkPolyData::GetData(outputVector);
    m_error.clear();
    m_readInParallel = false;
    m_implicitVertices = false;
    if (m_parallel && m_extension == ".vtp") {
        xmlpoly::Options options;
        options.dropOneVertexPerPoint = m_dropOneVertexPerPoint;
        options.implicitVertices = &m_implicitVertices;
        options.progress = [this](double fraction) {
            this->UpdateProgress(fraction);
            return this->GetAbortExecute() == 0;
        };
        std::string why;
        xmlpoly::Outcome outcome = xmlpoly::Outcome::Failed;
        try {
            outcome = xmlpoly::Read(m_path, output, &why, options);
        } catch (const std::bad_alloc&) {
            why = "not enough memory";
        }
        switch (outcome) {
        case xmlpoly::Outcome::Read: m_readInParallel = true; return 1;
        case xmlpoly::Outcome::Aborted: m_error = "aborted"; output->Initialize(); return 1;
        case xmlpoly::Outcome::Failed: m_error = why; output->Initialize(); return 1;
        case xmlpoly::Outcome::Unsupported: break; // VTK's reader takes it
        }
    }
    if (m_check) {
        m_error = m_check(m_path, m_extension);
        if (!m_error.empty()) {
            output->Initialize();
            return 1;
        }
    }
    vtkSmartPointer<vtkAlgorithm> reader;
    if (m_extension == ".vtk") {
        auto legacy = vtkSmartPointer<vtkPolyDataReader>::New();
        legacy->SetFileName(m_path.c_str());
        reader = legacy;
    } else if (m_extension == ".pvtp") {
        auto parallel = vtkSmartPointer<vtkXMLPPolyDataReader>::New();
        parallel->SetFileName(m_path.c_str());
        reader = parallel;
    } else {
        auto xml = vtkSmartPointer<vtkXMLPolyDataReader>::New();
        xml->SetFileName(m_path.c_str());
        reader = xml;
    }
    vtkNew<vtkCallbackCommand> progress;
    progress->SetCallback(OnInnerProgress);
    progress->SetClientData(this);
    reader->AddObserver(vtkCommand::ProgressEvent, progress);
    VtkErrorCatcher errors(reader);
    reader->Update();
    vtkPolyData* data = vtkPolyData::SafeDownCast(reader->GetOutputDataObject(0));
    if (this->GetAbortExecute())
        m_error = "aborted";
    else if (errors.HasError())
        m_error = errors.GetMessage();
    else if (!data)
        m_error = "unreadable model data";
    if (!m_error.empty()) {
        output->Initialize();
        return 1;
    }
    output->ShallowCopy(data);
    return 1;
}
