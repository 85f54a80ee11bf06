#include "core/formats/vtkModelFileReader.h"

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

struct Relay {
    vtkModelFileReader* owner;
    std::string error;
};

// The inner reader's progress as ours (so Abort reaches it), its errors
// as our result.
void OnInnerEvent(vtkObject* caller, unsigned long event, void* clientData, void* callData)
{
    auto* relay = static_cast<Relay*>(clientData);
    if (event == vtkCommand::ProgressEvent) {
        relay->owner->UpdateProgress(*static_cast<double*>(callData));
        if (relay->owner->GetAbortExecute())
            static_cast<vtkAlgorithm*>(caller)->SetAbortExecute(1);
    } else if (event == vtkCommand::ErrorEvent && relay->error.empty()) {
        // VTK's messages start with where they were raised; the first line
        // after that is the reason.
        relay->error = callData ? static_cast<const char*>(callData) : "unreadable model data";
        const size_t cut = relay->error.find("): ");
        if (cut != std::string::npos)
            relay->error = relay->error.substr(cut + 3);
        relay->error = relay->error.substr(0, relay->error.find_first_of("\r\n"));
    }
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
    Relay relay{this, std::string()};
    vtkNew<vtkCallbackCommand> command;
    command->SetCallback(OnInnerEvent);
    command->SetClientData(&relay);
    reader->AddObserver(vtkCommand::ProgressEvent, command);
    reader->AddObserver(vtkCommand::ErrorEvent, command);
    reader->AddObserver(vtkCommand::WarningEvent, command); // observed: not printed
    reader->Update();
    vtkPolyData* data = vtkPolyData::SafeDownCast(reader->GetOutputDataObject(0));
    if (this->GetAbortExecute())
        m_error = "aborted";
    else if (!relay.error.empty())
        m_error = relay.error;
    else if (!data)
        m_error = "unreadable model data";
    if (!m_error.empty()) {
        output->Initialize();
        return 1;
    }
    output->ShallowCopy(data);
    return 1;
}
