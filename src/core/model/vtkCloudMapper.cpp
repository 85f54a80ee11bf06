#include "core/model/vtkCloudMapper.h"

#include <vtkActor.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkLight.h>
#include <vtkLightCollection.h>
#include <vtkLookupTable.h>
#include <vtkOpenGLTexture.h>
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
#include <string>
#include <vector>

vtkStandardNewMacro(vtkCloudMapper);

namespace {

// A point's own colour, for the vertex shaders of points and of meshes.
const std::string kOwnColour = R"(
in vec4 colourMC;
uniform int colouring;       // 0 one colour, 1 colour bytes, 2 grey bytes, 3 mapped scalar
uniform vec2 scalarMap;      // first value, table entries per unit
uniform int tableSize;
uniform vec3 table[256];
uniform vec3 nanColour;
vec3 OwnColour()
{
  if (colouring == 1)
    return colourMC.rgb;
  if (colouring == 2)
    return colourMC.rrr;
  if (colouring == 3) {
    float s = colourMC.r;
    if (isnan(s))
      return nanColour;
    float index = floor((s - scalarMap.x) * scalarMap.y);
    return table[int(clamp(index, 0.0, float(tableSize - 1)))];
  }
  return vec3(0.0);
}
)";

const std::string kVertexShader = R"(//VTK::System::Dec
in vec3 vertexMC;
uniform mat4 MCDCMatrix;
uniform vec3 solidColour;    // ambient and diffuse terms of the property
uniform float vertexWeight;  // weight of the point's own colour
out vec3 colourVSOutput;
)" + kOwnColour + R"(
void main()
{
  gl_Position = MCDCMatrix * vec4(vertexMC, 1.0);
  colourVSOutput = solidColour + vertexWeight * OwnColour();
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

// Triangles, lit as VTK's mapper lights them with a headlight: ambient and
// diffuse terms (and specular where asked) on the surface's normal (the
// points' normals, else the facet's from the derivatives, both facing the
// viewer); the points' own colour is the diffuse term's, and a texture's
// colour is multiplied in.
const std::string kMeshVertexShader = R"(//VTK::System::Dec
in vec3 vertexMC;
in vec2 tcoordMC;
in vec3 normalMC;
uniform mat4 MCDCMatrix;
uniform mat4 MCVCMatrix;
uniform mat3 normalMatrix;
out vec2 tcoordVCVSOutput;
out vec4 vertexVCVSOutput;
out vec3 normalVCVSOutput;
out vec3 ownVSOutput;
)" + kOwnColour + R"(
void main()
{
  gl_Position = MCDCMatrix * vec4(vertexMC, 1.0);
  vertexVCVSOutput = MCVCMatrix * vec4(vertexMC, 1.0);
  normalVCVSOutput = normalMatrix * normalMC;
  tcoordVCVSOutput = tcoordMC;
  ownVSOutput = OwnColour();
}
)";

const char* const kMeshFragmentShader = R"(//VTK::System::Dec
in vec2 tcoordVCVSOutput;
in vec4 vertexVCVSOutput;
in vec3 normalVCVSOutput;
in vec3 ownVSOutput;
uniform sampler2D actortexture;
uniform int textured;
uniform int ownTerm;         // the points' colour in 0 no term, 1 ambient, 2 diffuse
uniform float ownWeight;
uniform int lighting;
uniform int pointNormals;
uniform int cameraParallel;
uniform vec3 ambientColorUniform;
uniform vec3 diffuseColorUniform;
uniform vec3 specularColorUniform;
uniform float specularPowerUniform;
uniform vec3 lightColor0;
//VTK::Output::Dec
void main()
{
  vec3 ambientColor = ambientColorUniform;
  vec3 diffuseColor = diffuseColorUniform;
  if (ownTerm == 1) ambientColor = ownWeight * ownVSOutput;
  if (ownTerm == 2) diffuseColor = ownWeight * ownVSOutput;
  vec3 colour = ambientColor + diffuseColor;
  if (lighting == 1) {
    vec3 n;
    if (pointNormals == 1) {
      n = normalize(normalVCVSOutput);
      if (gl_FrontFacing == false) n = -n;
    } else {
      n = normalize(cross(dFdx(vertexVCVSOutput.xyz), dFdy(vertexVCVSOutput.xyz)));
      if (cameraParallel == 1 && n.z < 0.0) n = -n;
      if (cameraParallel == 0 && dot(n, vertexVCVSOutput.xyz) > 0.0) n = -n;
    }
    float df = max(0.0, n.z);
    float sf = df > 0.0 ? pow(df, specularPowerUniform) : 0.0;
    colour = ambientColor + df * diffuseColor * lightColor0 + sf * specularColorUniform * lightColor0;
  }
  gl_FragData[0] = clamp(vec4(colour, 1.0), 0.0, 1.0);
  if (textured == 1) gl_FragData[0] = gl_FragData[0] * texture(actortexture, tcoordVCVSOutput);
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
    // Textured triangles (else points).
    bool mesh = false;
    // Points: the corners of the triangles (else every point).
    bool meshPoints = false;
    vtkDataArray* tcoords = nullptr;
    vtkDataArray* normals = nullptr; // used when the surface is smooth
    vtkOpenGLTexture* texture = nullptr;
    vtkLight* light = nullptr; // the headlight; none: unlit
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
    GLuint tcoords = 0, normals = 0, indices = 0;
    vtkMTimeType positionsTime = 0, coloursTime = 0, tcoordsTime = 0, normalsTime = 0, indicesTime = 0;
    vtkDataArray* positionsArray = nullptr;
    vtkDataArray* coloursArray = nullptr;
    vtkDataArray* tcoordsArray = nullptr;
    vtkDataArray* normalsArray = nullptr;
    vtkDataArray* indicesArray = nullptr;
    vtkIdType points = 0;
    GLenum colourType = 0;
    int colourComponents = 0;
    bool normalized = false;
    vtkOpenGLRenderWindow* window = nullptr;
    int software = -1;
    // The level-of-detail prop chooses by the time each level took.
    std::unique_ptr<vtkOpenGLRenderTimer> timer;

    // The buffers' contents are no model array's any more.
    void Forget()
    {
        positionsArray = coloursArray = tcoordsArray = normalsArray = indicesArray = nullptr;
        positionsTime = coloursTime = tcoordsTime = normalsTime = indicesTime = 0;
    }

    void Release()
    {
        if (vao)
            glDeleteVertexArrays(1, &vao);
        if (positions)
            glDeleteBuffers(1, &positions);
        for (GLuint* b : {&colours, &tcoords, &normals, &indices})
            if (*b)
                glDeleteBuffers(1, b);
        vao = positions = colours = tcoords = normals = indices = 0;
        positionsTime = coloursTime = tcoordsTime = normalsTime = indicesTime = 0;
        positionsArray = coloursArray = tcoordsArray = normalsArray = indicesArray = nullptr;
        if (timer)
            timer->ReleaseGraphicsResources();
        timer.reset();
        window = nullptr;
        software = -1;
    }
};

vtkCloudMapper::vtkCloudMapper() : m_gpu(new Gpu) {}

bool vtkCloudMapper::Streams() const { return m_streaming < 0 ? m_gpu->software == 1 : m_streaming == 1; }

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

bool DecideColours(vtkCloudMapper* mapper, vtkPolyData* input, Plan& plan);

// Triangles under one headlight (or unlit), opaque, as surfaces, coloured
// by one colour, by their points' colours or scalars, or by a texture: what
// a mesh shows in its surface representations.
Plan DecideMesh(vtkCloudMapper* mapper, vtkPolyData* input, vtkActor* actor, vtkRenderer* ren)
{
    Plan plan;
    plan.supported = false;
    vtkProperty* property = actor->GetProperty();
    vtkCellArray* polys = input->GetPolys();
    if (input->GetNumberOfVerts() > 0 || input->GetNumberOfLines() > 0 || input->GetNumberOfStrips() > 0 ||
        polys->GetNumberOfCells() == 0 || polys->IsHomogeneous() != 3 || property->GetNumberOfTextures() > 0 ||
        property->GetOpacity() < 1.0 || property->GetRepresentation() != VTK_SURFACE ||
        property->GetEdgeVisibility() || input->GetNumberOfPoints() > VTK_INT_MAX ||
        !GlType(input->GetPoints()->GetDataType()))
        return plan;
    if (actor->GetTexture()) {
        auto* texture = vtkOpenGLTexture::SafeDownCast(actor->GetTexture());
        vtkDataArray* tcoords = input->GetPointData()->GetTCoords();
        if (!texture || texture->GetTransform() || !tcoords || tcoords->GetNumberOfComponents() != 2 ||
            !GlType(tcoords->GetDataType()) || tcoords->GetNumberOfTuples() < input->GetNumberOfPoints())
            return plan;
        plan.texture = texture;
        plan.tcoords = tcoords;
    }
    // Points' colours with an ambient term are VTK's mapper's (the program
    // sets none).
    if (!DecideColours(mapper, input, plan) || (plan.texture && plan.array) ||
        (plan.array && property->GetAmbient() > 0.0))
        return plan;
    if (property->GetLighting()) {
        vtkLightCollection* lights = ren->GetLights();
        vtkLight* on = nullptr;
        int count = 0;
        lights->InitTraversal();
        for (vtkLight* l = lights->GetNextItem(); l; l = lights->GetNextItem())
            if (l->GetSwitch() && l->GetIntensity() > 0.0) {
                on = l;
                ++count;
            }
        if (count != 1 || !on->LightTypeIsHeadlight() || on->GetPositional())
            return plan;
        plan.light = on;
        vtkDataArray* normals = input->GetPointData()->GetNormals();
        if (normals && property->GetInterpolation() != VTK_FLAT && normals->GetNumberOfComponents() == 3 &&
            GlType(normals->GetDataType()) && normals->GetNumberOfTuples() >= input->GetNumberOfPoints())
            plan.normals = normals;
    }
    plan.supported = true;
    plan.mesh = true;
    return plan;
}

// The colour source of `plan` from the mapper's scalars, as VTK's mapper
// would colour them; false for colourings left to VTK's mapper.
bool DecideColours(vtkCloudMapper* mapper, vtkPolyData* input, Plan& plan)
{
    if (!mapper->GetScalarVisibility())
        return true;
    int cellFlag = 0;
    vtkDataArray* s = vtkAbstractMapper::GetScalars(input, mapper->GetScalarMode(), mapper->GetArrayAccessMode(),
                                                    mapper->GetArrayId(), mapper->GetArrayName(), cellFlag);
    if (!s)
        return true;
    const int components = s->GetNumberOfComponents();
    if (cellFlag || s->GetNumberOfTuples() < input->GetNumberOfPoints() || !GlType(s->GetDataType()))
        return false;
    plan.array = s;
    const int mode = mapper->GetColorMode();
    if (s->GetDataType() == VTK_UNSIGNED_CHAR && mode != VTK_COLOR_MODE_MAP_SCALARS) {
        // Bytes are colours: grey or RGB (alpha would need blending).
        plan.colouring = components == 1 ? GreyBytes : ColourBytes;
        return components == 1 || components == 3;
    }
    vtkLookupTable* table = vtkLookupTable::SafeDownCast(mapper->GetLookupTable());
    if (mode == VTK_COLOR_MODE_DIRECT_SCALARS || components != 1 || !table || table->GetScale() != VTK_SCALE_LINEAR ||
        table->GetIndexedLookup() || table->GetUseBelowRangeColor() || table->GetUseAboveRangeColor() ||
        table->GetNumberOfTableValues() < 1 || table->GetNumberOfTableValues() > 256 ||
        mapper->GetInterpolateScalarsBeforeMapping())
        return false;
    plan.colouring = Mapped;
    plan.table = table;
    if (mapper->GetUseLookupTableScalarRange())
        table->GetTableRange(plan.range);
    else
        mapper->GetScalarRange(plan.range);
    return true;
}

Plan Decide(vtkCloudMapper* mapper, vtkPolyData* input, vtkActor* actor, vtkRenderer* ren)
{
    vtkProperty* property = actor->GetProperty();
    // A mesh shown as points is its triangles' corners drawn as points.
    const bool meshPoints = input->GetNumberOfPolys() > 0 && property->GetRepresentation() == VTK_POINTS &&
                            input->GetNumberOfVerts() == 0 && input->GetPolys()->IsHomogeneous() == 3 &&
                            input->GetNumberOfPoints() <= VTK_INT_MAX;
    if (input->GetNumberOfPolys() > 0 && !meshPoints)
        return DecideMesh(mapper, input, actor, ren);
    Plan plan;
    plan.meshPoints = meshPoints;
    const bool cells = input->GetNumberOfLines() > 0 || input->GetNumberOfStrips() > 0 ||
                       (input->GetNumberOfPolys() > 0 && !meshPoints);
    const bool lit = input->GetPointData()->GetNormals() && property->GetLighting() &&
                     property->GetInterpolation() != VTK_FLAT;
    const bool textured = actor->GetTexture() || property->GetNumberOfTextures() > 0;
    plan.supported = !cells && !lit && !textured && property->GetOpacity() >= 1.0 &&
                     GlType(input->GetPoints()->GetDataType()) && DecideColours(mapper, input, plan);
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

// The triangles' corners as 32-bit indices, slice by slice from 64-bit ones.
void UploadIndices(GLuint buffer, vtkDataArray* connectivity)
{
    const size_t n = static_cast<size_t>(connectivity->GetNumberOfValues());
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    if (connectivity->GetDataTypeSize() == 4) {
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 4), connectivity->GetVoidPointer(0),
                     GL_STATIC_DRAW);
    } else {
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 4), nullptr, GL_STATIC_DRAW);
        const auto* in = static_cast<const long long*>(connectivity->GetVoidPointer(0));
        std::vector<GLuint> slice;
        const size_t step = 3 << 16;
        for (size_t at = 0; at < n; at += step) {
            const size_t m = std::min(step, n - at);
            slice.assign(in + at, in + at + m);
            glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLintptr>(at * 4), static_cast<GLsizeiptr>(m * 4),
                            slice.data());
        }
    }
}

// Under software OpenGL a buffer object is a copy in main memory beside the
// model's own arrays; there the arrays go to the renderer a slice at a
// time, into buffers re-specified for each slice, and nothing of them stays.

// New storage for every slice: the renderer frees the last one's when
// it is drawn, and never waits for it.
void Fill(GLenum target, GLuint buffer, size_t bytes, const void* data)
{
    glBindBuffer(target, buffer);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
}

// Tuples [first, first + count) of `a` into `buffer`; doubles as floats.
void UploadSlice(GLuint buffer, vtkDataArray* a, vtkIdType first, vtkIdType count, std::vector<float>& scratch)
{
    const size_t components = static_cast<size_t>(a->GetNumberOfComponents());
    const size_t values = static_cast<size_t>(count) * components;
    if (a->GetDataType() != VTK_DOUBLE) {
        Fill(GL_ARRAY_BUFFER, buffer, values * static_cast<size_t>(a->GetDataTypeSize()),
             a->GetVoidPointer(first * static_cast<vtkIdType>(components)));
    } else {
        const double* in = static_cast<const double*>(a->GetVoidPointer(first * static_cast<vtkIdType>(components)));
        scratch.assign(in, in + values);
        Fill(GL_ARRAY_BUFFER, buffer, values * sizeof(float), scratch.data());
    }
}

// The tuples of `a` at `ids` (one per corner) into `buffer`; doubles as floats.
template <class Id>
void UploadGathered(GLuint buffer, vtkDataArray* a, const Id* ids, size_t n, std::vector<unsigned char>& scratch)
{
    const size_t components = static_cast<size_t>(a->GetNumberOfComponents());
    const bool wide = a->GetDataType() == VTK_DOUBLE;
    const size_t tuple = components * (wide ? sizeof(float) : static_cast<size_t>(a->GetDataTypeSize()));
    scratch.resize(n * tuple);
    unsigned char* out = scratch.data();
    if (wide) {
        const double* in = static_cast<const double*>(a->GetVoidPointer(0));
        float* o = reinterpret_cast<float*>(out);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < components; ++c)
                o[i * components + c] = static_cast<float>(in[static_cast<size_t>(ids[i]) * components + c]);
    } else {
        const unsigned char* in = static_cast<const unsigned char*>(a->GetVoidPointer(0));
        for (size_t i = 0; i < n; ++i)
            std::memcpy(out + i * tuple, in + static_cast<size_t>(ids[i]) * tuple, tuple);
    }
    Fill(GL_ARRAY_BUFFER, buffer, scratch.size(), scratch.data());
}

// A streamed attribute: the model's array and the buffer it goes through.
struct Streamed {
    vtkDataArray* array;
    GLuint buffer;
};

// Draws `corners` corners of `connectivity` from `first` on as `mode`
// (triangles, or their corners as points) from buffers filled for this
// slice alone. Where the slice's corners lie in a narrow range of points
// (meshes are mostly stored so) that range goes with the slice's indices
// made relative to it; elsewhere every corner's values are gathered.
template <class Id>
void DrawStreamedSlice(GLenum mode, const Id* ids, size_t corners, const std::vector<Streamed>& attributes,
                       GLuint indexBuffer)
{
    if (corners == 0)
        return;
    Id lo = ids[0], hi = ids[0];
    for (size_t i = 1; i < corners; ++i) {
        lo = std::min(lo, ids[i]);
        hi = std::max(hi, ids[i]);
    }
    thread_local std::vector<float> floats;
    thread_local std::vector<unsigned char> bytes;
    thread_local std::vector<GLuint> local;
    const size_t span = static_cast<size_t>(hi - lo) + 1;
    if (span <= 2 * corners) {
        for (const Streamed& s : attributes)
            UploadSlice(s.buffer, s.array, static_cast<vtkIdType>(lo), static_cast<vtkIdType>(span), floats);
        local.resize(corners);
        for (size_t i = 0; i < corners; ++i)
            local[i] = static_cast<GLuint>(ids[i] - lo);
        Fill(GL_ELEMENT_ARRAY_BUFFER, indexBuffer, corners * sizeof(GLuint), local.data());
        glDrawElements(mode, static_cast<GLsizei>(corners), GL_UNSIGNED_INT, nullptr);
    } else {
        for (const Streamed& s : attributes)
            UploadGathered(s.buffer, s.array, ids, corners, bytes);
        glDrawArrays(mode, 0, static_cast<GLsizei>(corners));
    }
}

// Calls `f` with the connectivity's values as 32- or 64-bit integers.
template <class F>
void WithIds(vtkDataArray* connectivity, F&& f)
{
    if (connectivity->GetDataTypeSize() == 4)
        f(static_cast<const int32_t*>(connectivity->GetVoidPointer(0)));
    else
        f(static_cast<const long long*>(connectivity->GetVoidPointer(0)));
}

// The lookup table and scalar range for colours mapped in the shader.
void SetTableUniforms(vtkShaderProgram* program, const Plan& plan)
{
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
    const float map[2] = {static_cast<float>(plan.range[0]), static_cast<float>(width > 0 ? n / width : 0.0)};
    program->SetUniform2f("scalarMap", map);
    program->SetUniformi("tableSize", n);
    program->SetUniform3fv("table", n, colours.data());
    double nan[4];
    table->GetNanColor(nan);
    program->SetUniform3f("nanColour", nan);
}

} // namespace

void vtkCloudMapper::RenderPiece(vtkRenderer* ren, vtkActor* actor)
{
    vtkPolyData* input = this->GetInput();
    auto* window = vtkOpenGLRenderWindow::SafeDownCast(ren->GetRenderWindow());
    if (!input || !input->GetPoints() || input->GetNumberOfPoints() == 0 || !window)
        return;

    const Plan plan = Decide(this, input, actor, ren);
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
        glGenBuffers(1, &gpu.tcoords);
        glGenBuffers(1, &gpu.normals);
        glGenBuffers(1, &gpu.indices);
    }
    if (plan.mesh) {
        RenderMesh(ren, actor, &plan);
        return;
    }
    const bool stream = Streams();
    if (stream) {
        gpu.Forget(); // the buffers hold one slice at a time
    } else {
        if (gpu.positionsArray != coordinates || gpu.positionsTime < coordinates->GetMTime() ||
            gpu.points != points) {
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
        }
    }
    if (plan.array) {
        gpu.colourType = GlType(plan.array->GetDataType());
        gpu.colourComponents = plan.array->GetNumberOfComponents();
    }

    vtkShaderProgram* program = window->GetShaderCache()->ReadyShaderProgram(kVertexShader.c_str(), kFragmentShader, "");
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
    if (plan.colouring == Mapped && plan.table)
        SetTableUniforms(program, plan);
    window->GetState()->vtkglPointSize(property->GetPointSize());

    if (!gpu.timer)
        gpu.timer.reset(new vtkOpenGLRenderTimer);
    gpu.timer->ReusableStart();
    const auto started = std::chrono::steady_clock::now();
    // Slices, so that a software renderer never queues the whole cloud.
    vtkDataArray* connectivity = plan.meshPoints ? input->GetPolys()->GetConnectivityArray() : nullptr;
    const long long total = plan.meshPoints ? connectivity->GetNumberOfValues() : points;
    const long long slice = gpu.software || stream ? m_slice : total;
    if (stream) {
        std::vector<Streamed> attributes = {{coordinates, gpu.positions}};
        if (plan.array)
            attributes.push_back({plan.array, gpu.colours});
        std::vector<float> floats;
        for (long long first = 0; first < total; first += slice) {
            const long long count = std::min<long long>(slice, total - first);
            if (plan.meshPoints) {
                WithIds(connectivity, [&](const auto* ids) {
                    DrawStreamedSlice(GL_POINTS, ids + first, static_cast<size_t>(count), attributes, gpu.indices);
                });
            } else {
                for (const Streamed& a : attributes)
                    UploadSlice(a.buffer, a.array, first, count, floats);
                glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(count));
            }
            if (gpu.software && first + count < total)
                glFinish();
        }
    } else {
        if (plan.meshPoints) {
            if (gpu.indicesArray != connectivity || gpu.indicesTime < connectivity->GetMTime()) {
                UploadIndices(gpu.indices, connectivity);
                gpu.indicesArray = connectivity;
                gpu.indicesTime = connectivity->GetMTime();
            }
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.indices);
        }
        for (long long first = 0; first < total; first += slice) {
            const long long count = std::min<long long>(slice, total - first);
            if (plan.meshPoints)
                glDrawElements(GL_POINTS, static_cast<GLsizei>(count), GL_UNSIGNED_INT,
                               reinterpret_cast<const void*>(static_cast<uintptr_t>(first * sizeof(GLuint))));
            else
                glDrawArrays(GL_POINTS, static_cast<GLint>(first), static_cast<GLsizei>(count));
            if (gpu.software && first + count < total)
                glFinish();
        }
    }
    gpu.timer->ReusableStop();
    // The GPU's time of an earlier frame when the timer has one; the time
    // spent here until then (all of it, where slices were waited for).
    const double measured = gpu.timer->GetReusableElapsedSeconds();
    const double here = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    this->TimeToDraw = std::max({measured, here, 0.0001});
    glBindVertexArray(0);
}

void vtkCloudMapper::RenderMesh(vtkRenderer* ren, vtkActor* actor, const void* decided)
{
    const Plan& plan = *static_cast<const Plan*>(decided);
    Gpu& gpu = *m_gpu;
    vtkPolyData* input = this->GetInput();
    vtkOpenGLRenderWindow* window = gpu.window;
    const vtkIdType points = input->GetNumberOfPoints();
    vtkDataArray* coordinates = input->GetPoints()->GetData();
    vtkDataArray* connectivity = input->GetPolys()->GetConnectivityArray();
    const bool stream = Streams();
    if (stream) {
        gpu.Forget(); // the buffers hold one slice at a time
    } else {
        if (gpu.positionsArray != coordinates || gpu.positionsTime < coordinates->GetMTime() || gpu.points != points) {
            Upload(gpu.positions, coordinates, points);
            gpu.positionsArray = coordinates;
            gpu.positionsTime = coordinates->GetMTime();
            gpu.points = points;
            gpu.coloursArray = gpu.tcoordsArray = gpu.normalsArray = nullptr;
        }
        if (plan.tcoords && (gpu.tcoordsArray != plan.tcoords || gpu.tcoordsTime < plan.tcoords->GetMTime())) {
            Upload(gpu.tcoords, plan.tcoords, points);
            gpu.tcoordsArray = plan.tcoords;
            gpu.tcoordsTime = plan.tcoords->GetMTime();
        }
        if (plan.array && (gpu.coloursArray != plan.array || gpu.coloursTime < plan.array->GetMTime())) {
            Upload(gpu.colours, plan.array, points);
            gpu.coloursArray = plan.array;
            gpu.coloursTime = plan.array->GetMTime();
        }
        if (plan.normals && (gpu.normalsArray != plan.normals || gpu.normalsTime < plan.normals->GetMTime())) {
            Upload(gpu.normals, plan.normals, points);
            gpu.normalsArray = plan.normals;
            gpu.normalsTime = plan.normals->GetMTime();
        }
    }
    if (plan.array) {
        gpu.colourType = GlType(plan.array->GetDataType());
        gpu.colourComponents = plan.array->GetNumberOfComponents();
    }

    vtkShaderProgram* program = window->GetShaderCache()->ReadyShaderProgram(kMeshVertexShader.c_str(), kMeshFragmentShader, "");
    if (!program)
        return;
    glBindVertexArray(gpu.vao);
    // The index buffer belongs to the vertex array's state.
    if (!stream && (gpu.indicesArray != connectivity || gpu.indicesTime < connectivity->GetMTime())) {
        UploadIndices(gpu.indices, connectivity);
        gpu.indicesArray = connectivity;
        gpu.indicesTime = connectivity->GetMTime();
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.indices);
    const GLuint handle = static_cast<GLuint>(program->GetHandle());
    auto bind = [handle](const char* name, GLuint buffer, int components, GLenum type, bool normalized) {
        const GLint at = glGetAttribLocation(handle, name);
        if (at < 0)
            return;
        if (!buffer) {
            glDisableVertexAttribArray(static_cast<GLuint>(at));
            glVertexAttrib4f(static_cast<GLuint>(at), 0.0f, 0.0f, 1.0f, 1.0f);
            return;
        }
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glEnableVertexAttribArray(static_cast<GLuint>(at));
        glVertexAttribPointer(static_cast<GLuint>(at), components, type, normalized ? GL_TRUE : GL_FALSE, 0, nullptr);
    };
    bind("vertexMC", gpu.positions, 3, GL_FLOAT, false);
    bind("tcoordMC", plan.tcoords ? gpu.tcoords : 0, 2, plan.tcoords ? GlType(plan.tcoords->GetDataType()) : GL_FLOAT,
         false);
    bind("normalMC", plan.normals ? gpu.normals : 0, 3, plan.normals ? GlType(plan.normals->GetDataType()) : GL_FLOAT,
         false);
    // Colour bytes are 0..255 for 0..1; scalars keep their values.
    bind("colourMC", plan.array ? gpu.colours : 0, gpu.colourComponents, gpu.colourType, plan.colouring != Mapped);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // The matrices VTK's mapper sets: model to device, to view, normals.
    vtkMatrix4x4* wcvc = nullptr;
    vtkMatrix3x3* norms = nullptr;
    vtkMatrix4x4* vcdc = nullptr;
    vtkMatrix4x4* wcdc = nullptr;
    auto* camera = static_cast<vtkOpenGLCamera*>(ren->GetActiveCamera());
    camera->GetKeyMatrices(ren, wcvc, norms, vcdc, wcdc);
    if (actor->GetIsIdentity()) {
        program->SetUniformMatrix("MCDCMatrix", wcdc);
        program->SetUniformMatrix("MCVCMatrix", wcvc);
        program->SetUniformMatrix("normalMatrix", norms);
    } else {
        vtkMatrix4x4* mcwc = nullptr;
        vtkMatrix3x3* anorms = nullptr;
        static_cast<vtkOpenGLActor*>(actor)->GetKeyMatrices(mcwc, anorms);
        vtkNew<vtkMatrix4x4> mcdc, mcvc;
        vtkNew<vtkMatrix3x3> normal;
        vtkMatrix4x4::Multiply4x4(mcwc, wcdc, mcdc);
        vtkMatrix4x4::Multiply4x4(mcwc, wcvc, mcvc);
        vtkMatrix3x3::Multiply3x3(anorms, norms, normal);
        program->SetUniformMatrix("MCDCMatrix", mcdc);
        program->SetUniformMatrix("MCVCMatrix", mcvc);
        program->SetUniformMatrix("normalMatrix", normal);
    }
    vtkProperty* property = actor->GetProperty();
    float ambient[3], diffuse[3], specular[3], light[3] = {0.0f, 0.0f, 0.0f};
    for (int c = 0; c < 3; ++c) {
        ambient[c] = static_cast<float>(property->GetAmbient() * property->GetAmbientColor()[c]);
        diffuse[c] = static_cast<float>(property->GetDiffuse() * property->GetDiffuseColor()[c]);
        specular[c] = static_cast<float>(property->GetSpecular() * property->GetSpecularColor()[c]);
        if (plan.light)
            light[c] = static_cast<float>(plan.light->GetDiffuseColor()[c] * plan.light->GetIntensity());
    }
    // The points' own colour is the diffuse term's.
    program->SetUniformi("colouring", plan.array ? plan.colouring : OneColour);
    program->SetUniformi("ownTerm", plan.array ? 2 : 0);
    program->SetUniformf("ownWeight", static_cast<float>(property->GetDiffuse()));
    if (plan.colouring == Mapped && plan.table)
        SetTableUniforms(program, plan);
    program->SetUniformi("textured", plan.texture ? 1 : 0);
    program->SetUniformi("lighting", plan.light ? 1 : 0);
    program->SetUniformi("pointNormals", plan.normals ? 1 : 0);
    program->SetUniformi("cameraParallel", camera->GetParallelProjection());
    program->SetUniform3f("ambientColorUniform", ambient);
    program->SetUniform3f("diffuseColorUniform", diffuse);
    program->SetUniform3f("specularColorUniform", specular);
    program->SetUniformf("specularPowerUniform", static_cast<float>(property->GetSpecularPower()));
    program->SetUniform3f("lightColor0", light);
    if (plan.texture)
        program->SetUniformi("actortexture", plan.texture->GetTextureUnit());

    if (!gpu.timer)
        gpu.timer.reset(new vtkOpenGLRenderTimer);
    gpu.timer->ReusableStart();
    const auto started = std::chrono::steady_clock::now();
    // Slices of triangles, so that a software renderer never queues the
    // whole mesh: its binned triangles cost several times the mesh, and a
    // triangle's about as much as four points' (a quarter of the points'
    // slice keeps the binned scene near 4 MB; smaller slices gain nothing).
    const long long triangles = connectivity->GetNumberOfValues() / 3;
    const long long slice = gpu.software || stream ? std::max<long long>(1, m_slice / 4) : triangles;
    std::vector<Streamed> attributes = {{coordinates, gpu.positions}};
    if (plan.tcoords)
        attributes.push_back({plan.tcoords, gpu.tcoords});
    if (plan.normals)
        attributes.push_back({plan.normals, gpu.normals});
    if (plan.array)
        attributes.push_back({plan.array, gpu.colours});
    for (long long first = 0; first < triangles; first += slice) {
        const long long count = std::min<long long>(slice, triangles - first);
        if (stream)
            WithIds(connectivity, [&](const auto* ids) {
                DrawStreamedSlice(GL_TRIANGLES, ids + 3 * first, static_cast<size_t>(3 * count), attributes,
                                  gpu.indices);
            });
        else
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * count), GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(static_cast<uintptr_t>(3 * first * sizeof(GLuint))));
        if (gpu.software && first + count < triangles)
            glFinish();
    }
    gpu.timer->ReusableStop();
    const double measured = gpu.timer->GetReusableElapsedSeconds();
    const double here = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    this->TimeToDraw = std::max({measured, here, 0.0001});
    glBindVertexArray(0);
}
