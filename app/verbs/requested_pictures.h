// The pictures verbs draw when asked (eval --png, panel --png), behind types that need no drawing
// library, so that a build without Cairo (the Windows build) keeps the verbs and refuses the option.
#pragma once
#include <memory>
#include <string>

#include "runtime/scene.h"

namespace app {

// Throws std::invalid_argument ("OPTION: not in this build ...") where pictures are not built.
void RequirePictures(const std::string& option);

// The mesh's selection at several times, one panel each, drawn from above.
class SelectionPictures {
  public:
    SelectionPictures();
    ~SelectionPictures();
    void Add(Mesh& mesh, const std::string& caption);
    size_t Count() const;
    // Writes the panels, up to four a row, under `title` to `path` (through a temporary file);
    // throws std::runtime_error naming the path.
    void Write(const std::string& path, const std::string& title) const;

  private:
    struct Panels;
    std::unique_ptr<Panels> panels_;
};

// The panel's visible controls drawn as a dialog, under `title`, written to `path`; throws
// std::runtime_error naming the path.
void WritePanelPicture(HWND window, const std::string& title, const std::string& path);

} // namespace app
