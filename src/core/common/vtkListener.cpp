#include "core/common/vtkListener.h"

#include "core/common/ProgressSink.h"
#include "core/common/VtkErrorCatcher.h"

#include <vtkAlgorithm.h>
#include <vtkCommand.h>
#include <vtkObjectFactory.h>
#include <vtkSmartPointer.h>

#include <new>

vtkStandardNewMacro(vtkListener);

int ProgressPercent(double fraction)
{
    if (!(fraction > 0.0))
        return 0;
    if (fraction >= 1.0)
        return 100;
    return static_cast<int>(fraction * 100.0);
}

bool ProgressCheckpoint(IProgressSink* sink, double done, double total)
{
    if (!sink)
        return false;
    sink->SetFraction(total > 0 ? done / total : 0.0);
    sink->PumpMessages();
    return sink->IsAborted();
}

void vtkListener::Execute(vtkObject* /*caller*/, unsigned long eventId, void* callData)
{
    if (eventId != vtkCommand::ProgressEvent || !m_pSink)
        return;
    const double progress = callData ? *static_cast<double*>(callData) : 0.0;
    m_pSink->SetFraction(progress);
    if (m_pSink->IsAborted() && m_pCurrentAlgorithm) {
        m_pSink->OnAbortPending();
        m_pCurrentAlgorithm->SetAbortExecute(1);
    }
    m_pSink->PumpMessages();
}

StageResult RunStage(vtkListener* listener, vtkAlgorithm* algorithm, const std::string& text,
                     std::string* error)
{
    IProgressSink* sink = listener ? listener->GetSink() : nullptr;
    if (sink)
        sink->SetText(text);
    VtkErrorCatcher errors(algorithm);
    unsigned long tag = 0;
    if (listener) {
        tag = algorithm->AddObserver(vtkCommand::ProgressEvent, listener, 0.0f);
        listener->SetCurrentAlgorithm(algorithm);
    }
    bool outOfMemory = false;
    try {
        algorithm->Update();
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    if (listener) {
        algorithm->RemoveObserver(tag);
        listener->SetCurrentAlgorithm(nullptr);
    }
    if (sink && sink->IsAborted())
        return StageResult::Aborted;
    if (outOfMemory || errors.HasError()) {
        if (error)
            *error = outOfMemory ? std::string("not enough memory") : errors.GetMessage();
        return StageResult::Failed;
    }
    return StageResult::Done;
}
