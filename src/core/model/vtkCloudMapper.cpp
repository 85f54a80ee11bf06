#include "core/model/vtkCloudMapper.h"

#include <vtkActor.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkLookupTable.h>
#include <vtkMatrix3x3.h>
#include <vtkMatrix4x4.h>
#include <vtkObjectFactory.h>
#include <vtkOpenGLActor.h>
#include <vtkOpenGLCamera.h>
#include <vtkOpenGLRenderTimer.h>
#include <vtkOpenGLRenderWindow.h>
#include <vtkOpenGLShaderCache.h>
#include <vtkOpenGLState.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkShaderProgram.h>
#include <vtkTexture.h>
#include <vtk_glew.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstring>
#include <vector>

vtkStandardNewMacro(vtkCloudMapper);

namespace {

const char* const kVertexShader = R"(//VTK::System::Dec
in vec3 vertexMC;
in vec4 colourMC;
uniform mat4 MCDCMatrix;
uniform int colouring;       // 0 one colour, 1 colour bytes, 2 grey bytes, 3 mapped scalar
uniform vec3 solidColour;    // ambient and diffuse terms of the property
uniform float vertexWeight;  // weight of the point's own colour
uniform vec2 scalarMap;      // first value, table entries per unit
uniform int tableSize;
uniform vec3 table[256];
uniform vec3 nanColour;
out vec3 colourVSOutput;
void main()
{
  gl_Position = MCDCMatrix * vec4(vertexMC, 1.0);
  vec3 own = vec3(0.0);
  if (colouring == 1) {
    own = colourMC.rgb;
  } else if (colouring == 2) {
    own = colourMC.rrr;
  } else if (colouring == 3) {
    float s = colourMC.r;
    if (isnan(s)) {
      own = nanColour;
    } else {
      float index = floor((s - scalarMap.x) * scalarMap.y);
      own = table[int(clamp(index, 0.0, float(tableSize - 1)))];
    }
  }
  colourVSOutput = solidColour + vertexWeight * own;
}
)";

const char* const kFragmentShader = R"(//VTK::System::Dec
in vec3 colourVSOutput;
//VTK::Output::Dec
void main()
{
  gl_FragData[0] = vec4(colourVSOutput, 1.0);
}
)";

enum Colouring { OneColour = 0, ColourBytes = 1, GreyBytes = 2, Mapped = 3 };

GLenum GlType(int vtkType)
{
    switch (vtkType) {
    case VTK_FLOAT: return GL_FLOAT;
    case VTK_UNSIGNED_CHAR: return GL_UNSIGNED_BYTE;
    case VTK_SIGNED_CHAR:
    case VTK_CHAR: return GL_BYTE;
    case VTK_SHORT: return GL_SHORT;
    case VTK_UNSIGNED_SHORT: return GL_UNSIGNED_SHORT;
    case VTK_INT: return GL_INT;
    case VTK_UNSIGNED_INT: return GL_UNSIGNED_INT;
    case VTK_DOUBLE: return GL_FLOAT; // converted slice by slice
    default: return 0;
    }
}

// What colours the points, decided from the mapper's settings as VTK's
// mapper decides them; Unsupported for what this mapper leaves to VTK's.
struct Plan {
    bool supported = true;
    Colouring colouring = OneColour;
    vtkDataArray* array = nullptr;
    vtkLookupTable* table = nullptr;
    double range[2] = {0.0, 1.0};
};

bool IsSoftware()
{
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string name = renderer ? renderer : "";
    return name.find("llvmpipe") != std::string::npos || name.find("softpipe") != std::string::npos ||
           name.find("Software") != std::string::npos;
}

} // namespace

struct vtkCloudMapper::Gpu {
    GLuint vao = 0, positions = 0, colours = 0;
    vtkMTimeType positionsTime = 0, coloursTime = 0;
    vtkDataArray* positionsArray = nullptr;
    vtkDataArray* coloursArray = nullptr;
    vtkIdType points = 0;
    GLenum colourType = 0;
    int colourComponents = 0;
    bool normalized = false;
    vtkOpenGLRenderWindow* window = nullptr;
    int software = -1;
    // The level-of-detail prop chooses by the time each level took.
    std::unique_ptr<vtkOpenGLRenderTimer> timer;

    void Release()
    {
        if (vao)
            glDeleteVertexArrays(1, &vao);
        if (positions)
            glDeleteBuffers(1, &positions);
        if (colours)
            glDeleteBuffers(1, &colours);
        vao = positions = colours = 0;
        positionsTime = coloursTime = 0;
        positionsArray = coloursArray = nullptr;
        if (timer)
            timer->ReleaseGraphicsResources();
        timer.reset();
        window = nullptr;
        software = -1;
    }
};

vtkCloudMapper::vtkCloudMapper() : m_gpu(new Gpu) {}

vtkCloudMapper::~vtkCloudMapper()
{
    // Without a current context the timer's query cannot be deleted; the
    // window releases its resources through ReleaseGraphicsResources.
    if (m_gpu->timer)
        (void)m_gpu->timer.release();
    delete m_gpu;
}

void vtkCloudMapper::ReleaseGraphicsResources(vtkWindow* window)
{
    if (m_gpu->window && window == m_gpu->window) {
        m_gpu->window->MakeCurrent();
        m_gpu->Release();
    }
    if (m_vtk)
        m_vtk->ReleaseGraphicsResources(window);
    this->Superclass::ReleaseGraphicsResources(window);
}

namespace {

Plan Decide(vtkCloudMapper* mapper, vtkPolyData* input, vtkActor* actor)
{
    Plan plan;
    vtkProperty* property = actor->GetProperty();
    const bool cells = input->GetNumberOfLines() > 0 || input->GetNumberOfPolys() > 0 || input->GetNumberOfStrips() > 0;
    const bool lit = input->GetPointData()->GetNormals() && property->GetLighting() &&
                     property->GetInterpolation() != VTK_FLAT;
    const bool textured = actor->GetTexture() || property->GetNumberOfTextures() > 0;
    if (cells || lit || textured || property->GetOpacity() < 1.0 || !GlType(input->GetPoints()->GetDataType())) {
        plan.supported = false;
        return plan;
    }
    if (!mapper->GetScalarVisibility())
        return plan;
    int cellFlag = 0;
    vtkDataArray* s = vtkAbstractMapper::GetScalars(input, mapper->GetScalarMode(), mapper->GetArrayAccessMode(),
                                                    mapper->GetArrayId(), mapper->GetArrayName(), cellFlag);
    if (!s)
        return plan;
    const int components = s->GetNumberOfComponents();
    if (cellFlag || s->GetNumberOfTuples() < input->GetNumberOfPoints() || !GlType(s->GetDataType())) {
        plan.supported = false;
        return plan;
    }
    plan.array = s;
    const int mode = mapper->GetColorMode();
    if (s->GetDataType() == VTK_UNSIGNED_CHAR && mode != VTK_COLOR_MODE_MAP_SCALARS) {
        // Bytes are colours: grey or RGB (alpha would need blending).
        plan.colouring = components == 1 ? GreyBytes : ColourBytes;
        plan.supported = components == 1 || components == 3;
        return plan;
    }
    vtkLookupTable* table = vtkLookupTable::SafeDownCast(mapper->GetLookupTable());
    if (mode == VTK_COLOR_MODE_DIRECT_SCALARS || components != 1 || !table || table->GetScale() != VTK_SCALE_LINEAR ||
        table->GetIndexedLookup() || table->GetUseBelowRangeColor() || table->GetUseAboveRangeColor() ||
        table->GetNumberOfTableValues() < 1 || table->GetNumberOfTableValues() > 256) {
        plan.supported = false;
        return plan;
    }
    plan.colouring = Mapped;
    plan.table = table;
    if (mapper->GetUseLookupTableScalarRange())
        table->GetTableRange(plan.range);
    else
        mapper->GetScalarRange(plan.range);
    return plan;
}

// Fills a GL buffer with `a`'s values, slice by slice; doubles become
// floats on the way without a whole copy.
void Upload(GLuint buffer, vtkDataArray* a, vtkIdType tuples)
{
    const int components = a->GetNumberOfComponents();
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    if (a->GetDataType() != VTK_DOUBLE) {
        const size_t bytes = static_cast<size_t>(tuples) * static_cast<size_t>(components) *
                             static_cast<size_t>(a->GetDataTypeSize());
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes), a->GetVoidPointer(0), GL_STATIC_DRAW);
    } else {
        const size_t values = static_cast<size_t>(tuples) * static_cast<size_t>(components);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(values * sizeof(float)), nullptr, GL_STATIC_DRAW);
        const double* in = static_cast<const double*>(a->GetVoidPointer(0));
        std::vector<float> slice;
        const size_t step = 3 << 16;
        for (size_t at = 0; at < values; at += step) {
            const size_t n = std::min(step, values - at);
            slice.assign(in + at, in + at + n);
            glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(at * sizeof(float)),
                            static_cast<GLsizeiptr>(n * sizeof(float)), slice.data());
        }
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

} // namespace

void vtkCloudMapper::RenderPiece(vtkRenderer* ren, vtkActor* actor)
{
    vtkPolyData* input = this->GetInput();
    auto* window = vtkOpenGLRenderWindow::SafeDownCast(ren->GetRenderWindow());
    if (!input || !input->GetPoints() || input->GetNumberOfPoints() == 0 || !window)
        return;

    const Plan plan = Decide(this, input, actor);
    m_drawnByVtk = !plan.supported;
    if (!plan.supported) {
        // VTK's mapper with this one's settings and input.
        if (!m_vtk)
            m_vtk = vtkSmartPointer<vtkPolyDataMapper>::New();
        if (this->GetMTime() > m_vtkCopied) {
            m_vtk->ShallowCopy(this);
            m_vtkCopied = this->GetMTime();
        }
        m_vtk->SetInputData(input);
        m_vtk->RenderPiece(ren, actor);
        this->TimeToDraw = m_vtk->GetTimeToDraw();
        return;
    }

    Gpu& gpu = *m_gpu;
    if (gpu.window && gpu.window != window)
        gpu.Release(); // another window: its context owns no buffers of ours
    gpu.window = window;
    if (gpu.software < 0)
        gpu.software = IsSoftware() ? 1 : 0;
    const vtkIdType points = input->GetNumberOfPoints();
    vtkDataArray* coordinates = input->GetPoints()->GetData();
    if (!gpu.vao) {
        glGenVertexArrays(1, &gpu.vao);
        glGenBuffers(1, &gpu.positions);
        glGenBuffers(1, &gpu.colours);
    }
    if (gpu.positionsArray != coordinates || gpu.positionsTime < coordinates->GetMTime() || gpu.points != points) {
        Upload(gpu.positions, coordinates, points);
        gpu.positionsArray = coordinates;
        gpu.positionsTime = coordinates->GetMTime();
        gpu.points = points;
        gpu.coloursArray = nullptr; // counts may differ: colours again too
    }
    if (plan.array && (gpu.coloursArray != plan.array || gpu.coloursTime < plan.array->GetMTime())) {
        Upload(gpu.colours, plan.array, points);
        gpu.coloursArray = plan.array;
        gpu.coloursTime = plan.array->GetMTime();
        gpu.colourType = GlType(plan.array->GetDataType());
        gpu.colourComponents = plan.array->GetNumberOfComponents();
    }

    vtkShaderProgram* program = window->GetShaderCache()->ReadyShaderProgram(kVertexShader, kFragmentShader, "");
    if (!program)
        return;
    glBindVertexArray(gpu.vao);
    const GLint position = glGetAttribLocation(static_cast<GLuint>(program->GetHandle()), "vertexMC");
    const GLint colour = glGetAttribLocation(static_cast<GLuint>(program->GetHandle()), "colourMC");
    if (position < 0) {
        glBindVertexArray(0);
        return;
    }
    glBindBuffer(GL_ARRAY_BUFFER, gpu.positions);
    glEnableVertexAttribArray(static_cast<GLuint>(position));
    glVertexAttribPointer(static_cast<GLuint>(position), 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    if (colour >= 0) {
        if (plan.array) {
            glBindBuffer(GL_ARRAY_BUFFER, gpu.colours);
            glEnableVertexAttribArray(static_cast<GLuint>(colour));
            // Colour bytes are 0..255 for 0..1; scalars keep their values.
            const bool normalized = plan.colouring != Mapped;
            glVertexAttribPointer(static_cast<GLuint>(colour), gpu.colourComponents, gpu.colourType,
                                  normalized ? GL_TRUE : GL_FALSE, 0, nullptr);
        } else {
            glDisableVertexAttribArray(static_cast<GLuint>(colour));
        }
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // The camera's and the actor's matrices, as VTK's mapper sets them.
    vtkMatrix4x4* wcvc = nullptr;
    vtkMatrix3x3* norms = nullptr;
    vtkMatrix4x4* vcdc = nullptr;
    vtkMatrix4x4* wcdc = nullptr;
    static_cast<vtkOpenGLCamera*>(ren->GetActiveCamera())->GetKeyMatrices(ren, wcvc, norms, vcdc, wcdc);
    if (actor->GetIsIdentity()) {
        program->SetUniformMatrix("MCDCMatrix", wcdc);
    } else {
        vtkMatrix4x4* mcwc = nullptr;
        vtkMatrix3x3* anorms = nullptr;
        static_cast<vtkOpenGLActor*>(actor)->GetKeyMatrices(mcwc, anorms);
        vtkNew<vtkMatrix4x4> mcdc;
        vtkMatrix4x4::Multiply4x4(mcwc, wcdc, mcdc);
        program->SetUniformMatrix("MCDCMatrix", mcdc);
    }
    // Points without normals are not lit: ambient and diffuse terms, the
    // larger one taking the point's own colour, as VTK's mapper does.
    vtkProperty* property = actor->GetProperty();
    const double ka = property->GetAmbient(), kd = property->GetDiffuse();
    const double* ambient = property->GetAmbientColor();
    const double* diffuse = property->GetDiffuseColor();
    float solid[3];
    float weight = 0.0f;
    for (int c = 0; c < 3; ++c)
        solid[c] = static_cast<float>(ka * ambient[c] + kd * diffuse[c]);
    if (plan.array) {
        const bool ownIsAmbient = ka > kd;
        weight = static_cast<float>(ownIsAmbient ? ka : kd);
        for (int c = 0; c < 3; ++c)
            solid[c] = static_cast<float>(ownIsAmbient ? kd * diffuse[c] : ka * ambient[c]);
    }
    program->SetUniformi("colouring", plan.array ? plan.colouring : OneColour);
    program->SetUniform3f("solidColour", solid);
    program->SetUniformf("vertexWeight", weight);
    if (plan.colouring == Mapped && plan.table) {
        vtkLookupTable* table = plan.table;
        table->Build();
        const int n = static_cast<int>(table->GetNumberOfTableValues());
        std::vector<float> colours(static_cast<size_t>(3 * n));
        for (int i = 0; i < n; ++i) {
            double rgba[4];
            table->GetTableValue(i, rgba);
            for (int c = 0; c < 3; ++c)
                colours[static_cast<size_t>(3 * i + c)] = static_cast<float>(rgba[c]);
        }
        const double width = plan.range[1] - plan.range[0];
        const float map[2] = {static_cast<float>(plan.range[0]),
                              static_cast<float>(width > 0 ? n / width : 0.0)};
        program->SetUniform2f("scalarMap", map);
        program->SetUniformi("tableSize", n);
        program->SetUniform3fv("table", n, colours.data());
        double nan[4];
        table->GetNanColor(nan);
        program->SetUniform3f("nanColour", nan);
    }
    window->GetState()->vtkglPointSize(property->GetPointSize());

    if (!gpu.timer)
        gpu.timer.reset(new vtkOpenGLRenderTimer);
    gpu.timer->ReusableStart();
    const auto started = std::chrono::steady_clock::now();
    // Slices, so that a software renderer never queues the whole cloud.
    const long long slice = gpu.software ? m_slice : points;
    for (long long first = 0; first < points; first += slice) {
        const long long count = std::min<long long>(slice, points - first);
        glDrawArrays(GL_POINTS, static_cast<GLint>(first), static_cast<GLsizei>(count));
        if (gpu.software && first + count < points)
            glFinish();
    }
    gpu.timer->ReusableStop();
    // The GPU's time of an earlier frame when the timer has one; the time
    // spent here until then (all of it, where slices were waited for).
    const double measured = gpu.timer->GetReusableElapsedSeconds();
    const double here = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    this->TimeToDraw = std::max({measured, here, 0.0001});
    glBindVertexArray(0);
}
