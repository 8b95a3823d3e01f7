#include "batch_sources.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "io/image_codec.h"

namespace duo::cli {

namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

/// Splits "scene_L" into ("scene", 'L'); returns '\0' when the stem names no side.
std::pair<std::string, char> sideOf(const std::string& stem) {
  static constexpr std::array<std::pair<const char*, char>, 6> kSuffixes = {
      {{"_left", 'L'}, {"-left", 'L'}, {"_right", 'R'}, {"-right", 'R'}, {"_l", 'L'}, {"_r", 'R'}}};
  const std::string low = lower(stem);
  for (const auto& [suffix, side] : kSuffixes) {
    const std::string s(suffix);
    if (low.size() > s.size() && low.compare(low.size() - s.size(), s.size(), s) == 0) {
      return {stem.substr(0, stem.size() - s.size()), side};
    }
  }
  for (const char* suffix : {"-l", "-r"}) {
    const std::string s(suffix);
    if (low.size() > s.size() && low.compare(low.size() - s.size(), s.size(), s) == 0) {
      return {stem.substr(0, stem.size() - s.size()), s[1] == 'l' ? 'L' : 'R'};
    }
  }
  return {stem, '\0'};
}

std::string nameFromLeft(const std::string& leftPath) {
  return sideOf(fs::path(leftPath).stem().string()).first;
}

}  // namespace

Result<std::vector<BatchPair>> pairsInFolder(const std::string& folder) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return makeError(ErrorCode::Io, folder + ": cannot list (" + error.message() + ")");
  std::map<std::string, BatchPair> byName;
  for (const auto& entry : it) {
    if (!entry.is_regular_file(error)) continue;
    const fs::path& path = entry.path();
    if (!imageFormatFromPath(path.string())) continue;
    const auto [name, side] = sideOf(path.stem().string());
    if (side == '\0') continue;
    BatchPair& pair = byName[name];
    pair.name = name;
    std::string& slot = side == 'L' ? pair.left : pair.right;
    if (!slot.empty()) {
      pair.problem = "more than one " + std::string(side == 'L' ? "left" : "right") + " image";
    }
    slot = path.string();
  }
  std::vector<BatchPair> pairs;
  for (auto& [name, pair] : byName) {
    if (pair.problem.empty() && pair.left.empty()) pair.problem = "no left image (NAME_L)";
    if (pair.problem.empty() && pair.right.empty()) pair.problem = "no right image (NAME_R)";
    pairs.push_back(std::move(pair));
  }
  if (pairs.empty()) {
    return makeError(ErrorCode::InvalidArgument,
                     folder + ": no NAME_L / NAME_R image pairs in this folder");
  }
  return pairs;
}

Result<std::vector<BatchPair>> pairsInListFile(const std::string& listFile) {
  std::ifstream in(listFile);
  if (!in) return makeError(ErrorCode::Io, listFile + ": cannot open");
  const fs::path base = fs::path(listFile).parent_path();
  const auto resolve = [&base](const std::string& p) {
    const fs::path path(p);
    return (path.is_absolute() ? path : base / path).string();
  };
  std::vector<BatchPair> pairs;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::vector<std::string> fields;
    if (line.find('\t') != std::string::npos) {
      std::stringstream split(line);
      for (std::string field; std::getline(split, field, '\t');) {
        if (!field.empty()) fields.push_back(field);
      }
    } else {
      std::stringstream split(line);
      for (std::string field; split >> field;) fields.push_back(field);
    }
    BatchPair pair;
    if (fields.size() < 2 || fields.size() > 3) {
      pair.name = listFile + ":" + std::to_string(lineNumber);
      pair.problem = "expected LEFT RIGHT [NAME]";
    } else {
      pair.left = resolve(fields[0]);
      pair.right = resolve(fields[1]);
      pair.name = fields.size() == 3 ? fields[2] : nameFromLeft(fields[0]);
    }
    pairs.push_back(std::move(pair));
  }
  if (pairs.empty()) return makeError(ErrorCode::InvalidArgument, listFile + ": lists no pairs");
  return pairs;
}

}  // namespace duo::cli
