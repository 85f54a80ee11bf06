#pragma once
// Progress observer for pipeline runs: forwards the progress event to a
// progress sink and, once the user asked to abort, switches the running
// algorithm's abort flag so it stops early.
#include <vtkCallbackCommand.h>

#include <string>

class IProgressSink;
class vtkAlgorithm;

class vtkListener : public vtkCallbackCommand {
public:
    static vtkListener* New();
    vtkTypeMacro(vtkListener, vtkCallbackCommand);

    void Execute(vtkObject* caller, unsigned long eventId, void* callData) override;

    void SetSink(IProgressSink* sink) { m_pSink = sink; }
    IProgressSink* GetSink() const { return m_pSink; }
    void SetCurrentAlgorithm(vtkAlgorithm* algorithm) { m_pCurrentAlgorithm = algorithm; }
    vtkAlgorithm* GetCurrentAlgorithm() const { return m_pCurrentAlgorithm; }

protected:
    vtkListener() = default;
    ~vtkListener() override = default;

private:
    vtkListener(const vtkListener&) = delete;
    void operator=(const vtkListener&) = delete;

    IProgressSink* m_pSink = nullptr;
    vtkAlgorithm* m_pCurrentAlgorithm = nullptr;
};

enum class StageResult { Done, Aborted, Failed };

// One stage of a long operation: show the text, observe the algorithm while
// it updates, stop observing. Failed when the algorithm reported an error
// (or ran out of memory), Aborted when the user pressed Abort meanwhile.
// `error` receives the algorithm's error text on failure.
StageResult RunStage(vtkListener* listener, vtkAlgorithm* algorithm, const std::string& text,
                     std::string* error = nullptr);
