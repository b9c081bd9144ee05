#include "Preview.h"

#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "text/Codepage.h"

namespace pkgtool {
namespace {

// The tag of the section a kind's objects go to.
std::string SectionTag(const package::TObjectKind& kind) {
    using D = package::TPackageDocument;
    if (kind.Section == &D::CommonModules) return std::string(package::kCommonModulesTag);
    if (kind.Section == &D::Directories) return std::string(package::kDirectoriesTag);
    if (kind.Section == &D::Processings) return std::string(package::kProcessingsTag);
    return std::string(package::kSubsystemsTag);
}

// A capture that succeeds for every object of a known kind and records it;
// an object of another kind is noted, and the walk goes on past it.
class TPreviewCapture : public package::ICapture {
public:
    explicit TPreviewCapture(TPreview& preview) : preview_(preview) {}

    bool ExecuteCommand(const std::string&, const std::string& path) override {
        TPreviewObject object;
        object.Name = path;
        const package::TObjectKind* kind = package::FindObjectKind(path);
        if (!kind) {
            // Built, not assigned from a literal: GCC 12 warns wrongly (-Wrestrict) on that.
            object.Section = std::string(1, '-');
            object.ObjectPath = object.Section;
            preview_.Objects.push_back(std::move(object));
            preview_.Unsupported.push_back(path);
            return true;
        }
        object.Section = SectionTag(*kind);
        object.ObjectPath = package::TreePath(*kind, path);
        object.Formats = package::ObjectFormats(*kind, path).size();
        preview_.Objects.push_back(std::move(object));
        return true;
    }

private:
    TPreview& preview_;
};

}  // namespace

void PreviewReport(const std::filesystem::path& path, TPreview& preview) {
    preview = TPreview{};
    TPreviewCapture capture(preview);
    package::TReportReader reader = package::TReportReader::Open(path);
    preview.Completed = package::WalkReport(reader, capture).Completed;
}

std::string PreviewLine(const TPreviewObject& o) {
    return text::Cp1251ToUtf8(o.Name) + "\t" + o.Section + "\t" + text::Cp1251ToUtf8(o.ObjectPath) + "\t" +
           std::to_string(o.Formats) + "\n";
}

}  // namespace pkgtool
