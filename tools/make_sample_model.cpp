// Generates the bundled sample model: a textured terrain patch with a few
// buildings, as a scan of a small site would give it. Writes into OUTDIR:
//   sampleModel.vtp                 triangle mesh with "RGB", "Intensity", "Texture"
//   sampleModel.vtw                 georeferenced offset
//   sampleModel.tex                 texture descriptor with its source region
//   texture/sampleModel.jpg         the texture (cut from the source image)
//   texture/sampleModelSource.jpg   the larger source image
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataWriter.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

constexpr int kSourceW = 2048, kSourceH = 1536;
constexpr int kRoiX = 512, kRoiY = 256, kRoiW = 1024, kRoiH = 768;
constexpr int kNx = 640, kNy = 480;   // 307,200 points
constexpr double kSpacing = 0.1;      // metres: a 64 m x 48 m patch

// Deterministic value noise, identical on every machine.
double Hash(int x, int y, int seed)
{
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
                 static_cast<uint32_t>(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

double Noise(double x, double y, int seed)
{
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const double fx = x - xi, fy = y - yi;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const double a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed);
    const double c = Hash(xi, yi + 1, seed), d = Hash(xi + 1, yi + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}

double Fractal(double x, double y, int seed)
{
    double sum = 0, amp = 0.5, freq = 1;
    for (int o = 0; o < 5; ++o, amp *= 0.5, freq *= 2)
        sum += amp * Noise(x * freq, y * freq, seed + o);
    return sum;
}

struct Building { double x0, y0, x1, y1, height; cv::Vec3b roof; };
// In source-image pixels.
const Building kBuildings[] = {
    {700, 420, 900, 600, 6.5, {60, 70, 170}},
    {1150, 350, 1300, 520, 9.0, {90, 90, 95}},
    {980, 700, 1240, 820, 4.0, {50, 100, 160}},
    {620, 760, 760, 900, 5.5, {120, 120, 125}},
};

bool InRoad(double px, double py)
{
    const double centre = 640 + 120 * std::sin(px / 260.0);
    return std::fabs(py - centre) < 28;
}

double GroundHeight(double px, double py)
{
    return 3.0 * Fractal(px / 400.0, py / 400.0, 11) + 0.002 * px - 0.001 * py;
}

const Building* BuildingAt(double px, double py)
{
    for (const Building& b : kBuildings)
        if (px >= b.x0 && px <= b.x1 && py >= b.y0 && py <= b.y1)
            return &b;
    return nullptr;
}

cv::Mat MakeSourceImage()
{
    cv::Mat img(kSourceH, kSourceW, CV_8UC3);
    for (int y = 0; y < kSourceH; ++y) {
        for (int x = 0; x < kSourceW; ++x) {
            cv::Vec3b bgr;
            const double n = Fractal(x / 90.0, y / 90.0, 3);
            const double fine = Noise(x / 3.0, y / 3.0, 7);
            const int field = static_cast<int>(Hash(x / 300, y / 220, 5) * 3);
            if (const Building* b = BuildingAt(x, y)) {
                const bool ridge = std::abs(y - static_cast<int>((b->y0 + b->y1) / 2)) < 3;
                bgr = ridge ? cv::Vec3b(40, 40, 45) : b->roof;
            } else if (InRoad(x, y)) {
                const int g = static_cast<int>(95 + 30 * fine);
                bgr = cv::Vec3b(g, g, g + 5);
                const double centre = 640 + 120 * std::sin(x / 260.0);
                if (std::fabs(y - centre) < 2 && (x / 40) % 2 == 0)
                    bgr = cv::Vec3b(230, 230, 230);
            } else if (field == 0) { // meadow
                bgr = cv::Vec3b(static_cast<uchar>(40 + 30 * fine), static_cast<uchar>(110 + 80 * n),
                                static_cast<uchar>(60 + 50 * n));
            } else if (field == 1) { // ploughed field with rows
                const double rows = 0.5 + 0.5 * std::sin(x / 6.0 + y / 30.0);
                bgr = cv::Vec3b(static_cast<uchar>(40 + 20 * rows), static_cast<uchar>(75 + 40 * rows),
                                static_cast<uchar>(110 + 50 * rows + 20 * fine));
            } else { // scrub
                bgr = cv::Vec3b(static_cast<uchar>(50 + 40 * fine), static_cast<uchar>(120 + 60 * n),
                                static_cast<uchar>(100 + 60 * n));
            }
            img.at<cv::Vec3b>(y, x) = bgr;
        }
    }
    cv::GaussianBlur(img, img, cv::Size(3, 3), 0.8);
    return img;
}

bool WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_sample_model OUTDIR\n";
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    fs::create_directories(dir / "texture");

    const cv::Mat source = MakeSourceImage();
    const cv::Mat texture = source(cv::Rect(kRoiX, kRoiY, kRoiW, kRoiH)).clone();
    const std::vector<int> quality = {cv::IMWRITE_JPEG_QUALITY, 90};
    if (!cv::imwrite((dir / "texture" / "sampleModelSource.jpg").string(), source, quality) ||
        !cv::imwrite((dir / "texture" / "sampleModel.jpg").string(), texture, quality)) {
        std::cerr << "make_sample_model: cannot write the texture images\n";
        return 1;
    }

    vtkNew<vtkPoints> points;
    points->SetDataTypeToFloat();
    points->SetNumberOfPoints(static_cast<vtkIdType>(kNx) * kNy);
    vtkNew<vtkUnsignedCharArray> rgb;
    rgb->SetName("RGB");
    rgb->SetNumberOfComponents(3);
    rgb->SetNumberOfTuples(points->GetNumberOfPoints());
    vtkNew<vtkFloatArray> intensity;
    intensity->SetName("Intensity");
    intensity->SetNumberOfTuples(points->GetNumberOfPoints());
    vtkNew<vtkFloatArray> tcoords;
    tcoords->SetName("Texture");
    tcoords->SetNumberOfComponents(2);
    tcoords->SetNumberOfTuples(points->GetNumberOfPoints());

    for (int j = 0; j < kNy; ++j) {
        for (int i = 0; i < kNx; ++i) {
            const vtkIdType id = static_cast<vtkIdType>(j) * kNx + i;
            const double u = i / double(kNx - 1), v = j / double(kNy - 1);
            // Texture rows run top-down; model Y runs north, i.e. up the image.
            const double tx = u * (kRoiW - 1), ty = (1.0 - v) * (kRoiH - 1);
            const double px = kRoiX + tx, py = kRoiY + ty;
            double z = GroundHeight(px, py);
            if (InRoad(px, py))
                z -= 0.25;
            if (const Building* b = BuildingAt(px, py)) {
                // Gabled roof along the building's long side.
                const double mid = (b->y0 + b->y1) / 2, half = (b->y1 - b->y0) / 2;
                z = GroundHeight(b->x0, b->y0) + b->height + 1.5 * (1.0 - std::fabs(py - mid) / half);
            }
            points->SetPoint(id, i * kSpacing, j * kSpacing, z);
            const cv::Vec3b bgr = texture.at<cv::Vec3b>(static_cast<int>(ty), static_cast<int>(tx));
            const unsigned char c[3] = {bgr[2], bgr[1], bgr[0]};
            rgb->SetTypedTuple(id, c);
            const double lum = (0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]) / 255.0;
            const double grain = Noise(i / 2.0, j / 2.0, 17);
            intensity->SetValue(id, static_cast<float>(2047.0 * std::clamp(0.15 + 0.7 * lum + 0.15 * grain, 0.0, 1.0)));
            tcoords->SetTuple2(id, u, v);
        }
    }

    vtkNew<vtkCellArray> polys;
    polys->AllocateExact(static_cast<vtkIdType>(kNx - 1) * (kNy - 1) * 2, static_cast<vtkIdType>(kNx - 1) * (kNy - 1) * 6);
    for (int j = 0; j + 1 < kNy; ++j) {
        for (int i = 0; i + 1 < kNx; ++i) {
            const vtkIdType a = static_cast<vtkIdType>(j) * kNx + i, b = a + 1, c = a + kNx, d = c + 1;
            const vtkIdType t1[3] = {a, b, d}, t2[3] = {a, d, c};
            polys->InsertNextCell(3, t1);
            polys->InsertNextCell(3, t2);
        }
    }

    vtkNew<vtkPolyData> poly;
    poly->SetPoints(points);
    poly->SetPolys(polys);
    poly->GetPointData()->AddArray(rgb);
    poly->GetPointData()->AddArray(intensity);
    poly->GetPointData()->AddArray(tcoords);

    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetFileName((dir / "sampleModel.vtp").string().c_str());
    writer->SetInputData(poly);
    writer->SetDataModeToAppended();
    writer->EncodeAppendedDataOff();
    writer->SetCompressorTypeToZLib();
    if (!writer->Write()) {
        std::cerr << "make_sample_model: cannot write the model\n";
        return 1;
    }

    char roi[160];
    std::snprintf(roi, sizeof roi, "[SourceROI]\r\nX=%d\r\nY=%d\r\nW=%d\r\nH=%d\r\n", kRoiX, kRoiY, kRoiW, kRoiH);
    if (!WriteText(dir / "sampleModel.vtw",
                   "[PolyData Offset]\r\nX=500000.000000\r\nY=4500000.000000\r\nZ=100.000000\r\n") ||
        !WriteText(dir / "sampleModel.tex",
                   std::string("[Texture]\r\nFile=texture\\sampleModel.jpg\r\n\r\n") + roi)) {
        std::cerr << "make_sample_model: cannot write the companion files\n";
        return 1;
    }
    return 0;
}
