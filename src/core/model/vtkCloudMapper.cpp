#include "core/model/vtkCloudMapper.h"

#include "core/model/CloudBuffers.h"


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
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

using cloudgl::GlType;

enum Colouring { OneColour = 0, ColourBytes = 1, GreyBytes = 2, Mapped = 3 };

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
    GLuint vao = 0;
    cloudgl::Kept positions, colours, tcoords, normals, indices;
    vtkIdType points = 0;
    GLenum colourType = 0;
    int colourComponents = 0;
    vtkOpenGLRenderWindow* window = nullptr;
    int software = -1;
    // The level-of-detail prop chooses by the time each level took.
    std::unique_ptr<vtkOpenGLRenderTimer> timer;

    std::array<cloudgl::Kept*, 5> Buffers() { return {&positions, &colours, &tcoords, &normals, &indices}; }

    // The buffers' contents are no model array's any more.
    void Forget()
    {
        for (cloudgl::Kept* k : Buffers())
            k->Forget();
    }

    // Whole arrays, kept: when the points are others, all of them again.
    void KeepPoints(vtkDataArray* coordinates, vtkIdType n)
    {
        if (points != n)
            Forget();
        points = n;
        const vtkDataArray* before = positions.array;
        const vtkMTimeType time = positions.time;
        positions.Keep(coordinates, n);
        if (positions.array != before || positions.time != time)
            for (cloudgl::Kept* k : {&colours, &tcoords, &normals})
                k->Forget(); // counts may differ: these again too
    }

    void Release()
    {
        if (vao)
            glDeleteVertexArrays(1, &vao);
        for (cloudgl::Kept* k : Buffers()) {
            if (k->buffer)
                glDeleteBuffers(1, &k->buffer);
            k->buffer = 0;
            k->Forget();
        }
        vao = 0;
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

// The model-to-device matrix as VTK's mapper sets it, and with `lit` the
// model-to-view and normal matrices too.
void SetMatrices(vtkShaderProgram* program, vtkRenderer* ren, vtkActor* actor, bool lit)
{
    vtkMatrix4x4* wcvc = nullptr;
    vtkMatrix3x3* norms = nullptr;
    vtkMatrix4x4* vcdc = nullptr;
    vtkMatrix4x4* wcdc = nullptr;
    static_cast<vtkOpenGLCamera*>(ren->GetActiveCamera())->GetKeyMatrices(ren, wcvc, norms, vcdc, wcdc);
    if (actor->GetIsIdentity()) {
        program->SetUniformMatrix("MCDCMatrix", wcdc);
        if (lit) {
            program->SetUniformMatrix("MCVCMatrix", wcvc);
            program->SetUniformMatrix("normalMatrix", norms);
        }
        return;
    }
    vtkMatrix4x4* mcwc = nullptr;
    vtkMatrix3x3* anorms = nullptr;
    static_cast<vtkOpenGLActor*>(actor)->GetKeyMatrices(mcwc, anorms);
    vtkNew<vtkMatrix4x4> mcdc;
    vtkMatrix4x4::Multiply4x4(mcwc, wcdc, mcdc);
    program->SetUniformMatrix("MCDCMatrix", mcdc);
    if (lit) {
        vtkNew<vtkMatrix4x4> mcvc;
        vtkNew<vtkMatrix3x3> normal;
        vtkMatrix4x4::Multiply4x4(mcwc, wcvc, mcvc);
        vtkMatrix3x3::Multiply3x3(anorms, norms, normal);
        program->SetUniformMatrix("MCVCMatrix", mcvc);
        program->SetUniformMatrix("normalMatrix", normal);
    }
}

// Runs `draw` and returns the time it took: the GPU's time of an earlier
// frame when the timer has one, else the time spent here (all of it, where
// slices were waited for).
double TimedDraw(std::unique_ptr<vtkOpenGLRenderTimer>& timer, const std::function<void()>& draw)
{
    if (!timer)
        timer.reset(new vtkOpenGLRenderTimer);
    timer->ReusableStart();
    const auto started = std::chrono::steady_clock::now();
    draw();
    timer->ReusableStop();
    const double measured = timer->GetReusableElapsedSeconds();
    const double here = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return std::max({measured, here, 0.0001});
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
        for (cloudgl::Kept* k : gpu.Buffers())
            glGenBuffers(1, &k->buffer);
    }
    if (plan.array) {
        gpu.colourType = cloudgl::GlType(plan.array->GetDataType());
        gpu.colourComponents = plan.array->GetNumberOfComponents();
    }
    const bool stream = Streams();
    if (stream)
        gpu.Forget(); // the buffers hold one slice at a time
    if (plan.mesh) {
        RenderMesh(ren, actor, &plan);
        return;
    }
    if (!stream) {
        gpu.KeepPoints(coordinates, points);
        if (plan.array)
            gpu.colours.Keep(plan.array, points);
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
    glBindBuffer(GL_ARRAY_BUFFER, gpu.positions.buffer);
    glEnableVertexAttribArray(static_cast<GLuint>(position));
    glVertexAttribPointer(static_cast<GLuint>(position), 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    if (colour >= 0) {
        if (plan.array) {
            glBindBuffer(GL_ARRAY_BUFFER, gpu.colours.buffer);
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

    SetMatrices(program, ren, actor, false);
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

    // Slices, so that a software renderer never queues the whole cloud.
    vtkDataArray* connectivity = plan.meshPoints ? input->GetPolys()->GetConnectivityArray() : nullptr;
    const long long total = plan.meshPoints ? connectivity->GetNumberOfValues() : points;
    const long long slice = gpu.software || stream ? m_slice : total;
    if (plan.meshPoints && !stream)
        gpu.indices.KeepIndices(connectivity);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.indices.buffer);
    std::vector<cloudgl::Streamed> attributes = {{coordinates, gpu.positions.buffer}};
    if (plan.array)
        attributes.push_back({plan.array, gpu.colours.buffer});
    this->TimeToDraw = TimedDraw(gpu.timer, [&] {
        cloudgl::DrawInSlices(total, slice, gpu.software, [&](long long first, long long count) {
            if (stream && plan.meshPoints) {
                cloudgl::DrawSlice(GL_POINTS, connectivity, first, count, attributes, gpu.indices.buffer);
            } else if (stream) {
                for (const cloudgl::Streamed& a : attributes)
                    cloudgl::SendSlice(a.buffer, a.array, first, count);
                glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(count));
            } else if (plan.meshPoints) {
                glDrawElements(GL_POINTS, static_cast<GLsizei>(count), GL_UNSIGNED_INT,
                               reinterpret_cast<const void*>(static_cast<uintptr_t>(first * sizeof(GLuint))));
            } else {
                glDrawArrays(GL_POINTS, static_cast<GLint>(first), static_cast<GLsizei>(count));
            }
        });
    });
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
    if (!stream) {
        gpu.KeepPoints(coordinates, points);
        if (plan.tcoords)
            gpu.tcoords.Keep(plan.tcoords, points);
        if (plan.array)
            gpu.colours.Keep(plan.array, points);
        if (plan.normals)
            gpu.normals.Keep(plan.normals, points);
    }

    vtkShaderProgram* program = window->GetShaderCache()->ReadyShaderProgram(kMeshVertexShader.c_str(), kMeshFragmentShader, "");
    if (!program)
        return;
    glBindVertexArray(gpu.vao);
    // The index buffer belongs to the vertex array's state.
    if (!stream)
        gpu.indices.KeepIndices(connectivity);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, gpu.indices.buffer);
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
    bind("vertexMC", gpu.positions.buffer, 3, GL_FLOAT, false);
    bind("tcoordMC", plan.tcoords ? gpu.tcoords.buffer : 0, 2,
         plan.tcoords ? cloudgl::GlType(plan.tcoords->GetDataType()) : GL_FLOAT, false);
    bind("normalMC", plan.normals ? gpu.normals.buffer : 0, 3,
         plan.normals ? cloudgl::GlType(plan.normals->GetDataType()) : GL_FLOAT, false);
    // Colour bytes are 0..255 for 0..1; scalars keep their values.
    bind("colourMC", plan.array ? gpu.colours.buffer : 0, gpu.colourComponents, gpu.colourType,
         plan.colouring != Mapped);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    SetMatrices(program, ren, actor, true);
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
    program->SetUniformi("cameraParallel", ren->GetActiveCamera()->GetParallelProjection());
    program->SetUniform3f("ambientColorUniform", ambient);
    program->SetUniform3f("diffuseColorUniform", diffuse);
    program->SetUniform3f("specularColorUniform", specular);
    program->SetUniformf("specularPowerUniform", static_cast<float>(property->GetSpecularPower()));
    program->SetUniform3f("lightColor0", light);
    if (plan.texture)
        program->SetUniformi("actortexture", plan.texture->GetTextureUnit());

    // Slices of triangles, so that a software renderer never queues the
    // whole mesh: its binned triangles cost several times the mesh, and a
    // triangle's about as much as four points' (a quarter of the points'
    // slice keeps the binned scene near 4 MB; smaller slices gain nothing).
    const long long triangles = connectivity->GetNumberOfValues() / 3;
    const long long slice = gpu.software || stream ? std::max<long long>(1, m_slice / 4) : triangles;
    std::vector<cloudgl::Streamed> attributes = {{coordinates, gpu.positions.buffer}};
    if (plan.tcoords)
        attributes.push_back({plan.tcoords, gpu.tcoords.buffer});
    if (plan.normals)
        attributes.push_back({plan.normals, gpu.normals.buffer});
    if (plan.array)
        attributes.push_back({plan.array, gpu.colours.buffer});
    this->TimeToDraw = TimedDraw(gpu.timer, [&] {
        cloudgl::DrawInSlices(triangles, slice, gpu.software, [&](long long first, long long count) {
            if (stream)
                cloudgl::DrawSlice(GL_TRIANGLES, connectivity, 3 * first, 3 * count, attributes, gpu.indices.buffer);
            else
                glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * count), GL_UNSIGNED_INT,
                               reinterpret_cast<const void*>(static_cast<uintptr_t>(3 * first * sizeof(GLuint))));
        });
    });
    glBindVertexArray(0);
}
