#pragma once
// What a loaded model holds and how it is coloured, as the command line's
// "info" prints it and the properties dialog offers it: its full-resolution
// points and cells, its point-data arrays in order, and the class of each
// colouring attribute.
#include <string>
#include <vector>

class CScanPos;

namespace model {

struct ArrayInfo {
    std::string name;
    int components = 0;
    std::string type;
};

struct Summary {
    long long points = 0;
    long long cells = 0;
    std::vector<ArrayInfo> arrays; // point data, in array order
};

// Of the model's full level (the input of its level-1000 mapper).
Summary Summarize(const CScanPos& model);

// The range of component 0 of the point-data array named exactly `name`;
// false when there is no such array (or no points to measure).
bool AttributeRange(const CScanPos& model, const std::string& name, double range[2]);

// How an attribute colours a model, by its lower-cased name.
enum class AttributeClass {
    Direct,  // "rgb", "gray", "albedo": the array's own colours
    Solid,   // "user defined": one colour, no array
    Special, // "scanpos", "texture"
    Scalar,  // any other array: a range through a colour map
};
AttributeClass ClassOf(const std::string& attribute);

// The attribute that stands for "no array" in attribute lists.
constexpr const char* kUserDefined = "User defined";

} // namespace model
