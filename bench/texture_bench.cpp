// The cut of a new texture is stored losslessly (PNG without compression:
// the file lives only until the texture has read it). This measures what
// that costs against JPEG of quality 100 for a large cut: encoding and
// writing, then reading it back with the texture's image reader, in one run
// on the same photo-like image.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <vtkImageData.h>
#include <vtkImageReader2.h>
#include <vtkJPEGReader.h>
#include <vtkNew.h>
#include <vtkPNGReader.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Timing {
    double write, read;
    size_t bytes;
};

Timing Store(const cv::Mat& cut, const std::string& path, const std::vector<int>& options, bool png)
{
    auto t0 = std::chrono::steady_clock::now();
    if (!cv::imwrite(path, cut, options)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    const double write = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    vtkSmartPointer<vtkImageReader2> reader;
    if (png)
        reader = vtkSmartPointer<vtkPNGReader>::New();
    else
        reader = vtkSmartPointer<vtkJPEGReader>::New();
    reader->SetFileName(path.c_str());
    reader->Update();
    const double read = Seconds(t0);
    return {write, read, static_cast<size_t>(std::filesystem::file_size(path))};
}

} // namespace

int main(int argc, char** argv)
{
    const int width = argc > 1 ? std::atoi(argv[1]) : 8000;
    const int height = argc > 2 ? std::atoi(argv[2]) : 6000;
    const int reps = argc > 3 ? std::atoi(argv[3]) : 3;
    // Smooth fields with fine noise, as aerial photographs have.
    cv::Mat small(height / 50, width / 50, CV_8UC3), source, noise(height, width, CV_8UC3);
    cv::randu(small, 0, 255);
    cv::resize(small, source, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::randn(noise, 0, 12);
    source += noise;
    const cv::Mat cut = source(cv::Rect(width / 8, height / 8, width * 3 / 4, height * 3 / 4));
    const std::string folder = (std::filesystem::temp_directory_path() / "quarlon-texture-bench").string();
    std::filesystem::create_directories(folder);
    std::printf("cut of %d x %d pixels from %d x %d\n", cut.cols, cut.rows, width, height);
    std::vector<double> pngTotal, jpegTotal;
    Timing png{}, jpeg{};
    for (int r = 0; r < reps; ++r) {
        png = Store(cut, folder + "/cut.png", {cv::IMWRITE_PNG_COMPRESSION, 0}, true);
        jpeg = Store(cut, folder + "/cut.jpg", {cv::IMWRITE_JPEG_QUALITY, 100}, false);
        pngTotal.push_back(png.write + png.read);
        jpegTotal.push_back(jpeg.write + jpeg.read);
        std::printf("rep %d: stored PNG write %.2f s read %.2f s (%zu MB) | JPEG 100 write %.2f s read %.2f s (%zu MB)\n",
                    r + 1, png.write, png.read, png.bytes >> 20, jpeg.write, jpeg.read, jpeg.bytes >> 20);
    }
    std::sort(pngTotal.begin(), pngTotal.end());
    std::sort(jpegTotal.begin(), jpegTotal.end());
    const double p = pngTotal[pngTotal.size() / 2], j = jpegTotal[jpegTotal.size() / 2];
    std::printf("median write + read: PNG %.2f s, JPEG 100 %.2f s, ratio PNG/JPEG %.2f\n", p, j, p / j);
    std::filesystem::remove_all(folder);
    return 0;
}
