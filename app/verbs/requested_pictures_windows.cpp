// A build without Cairo: the verbs stay, their --png option says it is not here (a usage error).
#include "verbs/requested_pictures.h"

#include <stdexcept>

namespace app {

void RequirePictures(const std::string& option) {
    throw std::invalid_argument(option + ": not in this build (pictures are drawn with Cairo, which the "
                                         "Windows build leaves out)");
}

struct SelectionPictures::Panels {};
SelectionPictures::SelectionPictures() = default;
SelectionPictures::~SelectionPictures() = default;
void SelectionPictures::Add(Mesh&, const std::string&) {}
size_t SelectionPictures::Count() const { return 0; }
void SelectionPictures::Write(const std::string&, const std::string&) const { RequirePictures("--png"); }
void WritePanelPicture(HWND, const std::string&, const std::string&) { RequirePictures("--png"); }

} // namespace app
