#pragma once

// A spreadsheet application that only writes down every call made on it, in
// order, with its arguments ("Range(A1:C1)", "Merge", "Font.Size=18", ...);
// "create" when the export starts one, "release" when it lets go, "gone" when
// it is destroyed. Installed for its lifetime. A test can make a call fail.
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

#include "output/SpreadsheetAutomation.h"

namespace tarnwell::test {

class RecordingSpreadsheet final : public SpreadsheetServer {
public:
    QStringList calls;
    // Called with each call's record before it is written down; may throw.
    std::function<void(const QString& call)> failing;

    std::unique_ptr<SpreadsheetApplication> create() override {
        record(QStringLiteral("create"));
        return std::make_unique<Application>(*this);
    }

private:
    void record(const QString& call) {
        if (failing) {
            failing(call);
        }
        calls << call;
    }

    class Application final : public SpreadsheetApplication {
    public:
        explicit Application(RecordingSpreadsheet& owner) : owner_(owner) {}
        ~Application() override { owner_.calls << QStringLiteral("gone"); }

        void setVisible(bool visible) override { add(QStringLiteral("Visible=%1").arg(visible ? "true" : "false")); }
        void addWorkbook() override { add(QStringLiteral("WorkBooks.Add")); }
        void addWorksheet() override { add(QStringLiteral("WorkSheets.Add")); }
        void setPageOrientation(int orientation) override {
            add(QStringLiteral("PageSetup.Orientation=%1").arg(orientation));
        }
        CellArea range(const QString& reference) override {
            add(QStringLiteral("Range(%1)").arg(reference));
            return {};
        }
        CellArea cells(int row, int column) override {
            add(QStringLiteral("Cells(%1,%2)").arg(row).arg(column));
            return {};
        }
        CellArea allCells() override {
            add(QStringLiteral("Cells()"));
            return {};
        }
        CellArea entireColumn(const CellArea& area) override {
            add(QStringLiteral("EntireColumn"));
            return area;
        }
        void merge(const CellArea&) override { add(QStringLiteral("Merge")); }
        void setFontName(const CellArea&, const QString& name) override { add(QStringLiteral("Font.Name=") + name); }
        void setFontSize(const CellArea&, double points) override {
            add(QStringLiteral("Font.Size=%1").arg(points));
        }
        void setNumberFormatLocal(const CellArea&, const QString& format) override {
            add(QStringLiteral("NumberFormatLocal=") + format);
        }
        void setHorizontalAlignment(const CellArea&, int alignment) override {
            add(QStringLiteral("HorizontalAlignment=%1").arg(alignment));
        }
        void setValue(const CellArea&, const QString& value) override { add(QStringLiteral("Value=") + value); }
        void setBordersLineStyle(const CellArea&, int lineStyle) override {
            add(QStringLiteral("Borders.LineStyle=%1").arg(lineStyle));
        }
        void autoFit(const CellArea&) override { add(QStringLiteral("AutoFit")); }
        void release() override { add(QStringLiteral("release")); }

    private:
        void add(const QString& call) { owner_.record(call); }
        RecordingSpreadsheet& owner_;
    };

    SpreadsheetServerOverride installed_{*this};
};

}  // namespace tarnwell::test
