#pragma once

#include <QString>
#include <memory>

namespace tarnwell {

// The members of a spreadsheet application's automation model that Tarnwell
// drives, one virtual call per member, so that the export's calls can be
// watched one by one. The small handle classes below give them back their
// dotted form (sheet.Range("A1:C1").Font().setName(...)).
//
// The real application (XlsxSheet) writes an .xlsx file; tests put a
// recording double in its place.

// Constants of the automation model.
inline constexpr int xlLandscape = 2;
inline constexpr int xlCenter = -4108;
inline constexpr int xlRight = -4152;
inline constexpr int xlContinuous = 1;

// A rectangle of cells, rows and columns counted from 1, as a range read
// from a sheet stands for it.
class Workbooks;

struct CellArea {
    int firstRow = 1;
    int firstColumn = 1;
    int lastRow = 1;
    int lastColumn = 1;

    bool contains(int row, int column) const noexcept {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
    friend bool operator==(const CellArea&, const CellArea&) = default;
};

class SpreadsheetApplication {
public:
    virtual ~SpreadsheetApplication() = default;

    // WorkBooks().Add().WorkSheets().Add(): the sheet every later call writes to.
    Workbooks WorkBooks();

    virtual void setVisible(bool visible) = 0;
    virtual void addWorkbook() = 0;
    virtual void addWorksheet() = 0;
    virtual void setPageOrientation(int orientation) = 0;

    // Reading a range: Range("B3:D7") (A1 style), Cells(row, column), Cells()
    // (all cells), and a range's EntireColumn. A reference that names no
    // cell of a sheet throws, as the application's own call fails.
    virtual CellArea range(const QString& reference) = 0;
    virtual CellArea cells(int row, int column) = 0;
    virtual CellArea allCells() = 0;
    virtual CellArea entireColumn(const CellArea& area) = 0;

    // Members of a range.
    virtual void merge(const CellArea& area) = 0;
    virtual void setFontName(const CellArea& area, const QString& name) = 0;
    virtual void setFontSize(const CellArea& area, double points) = 0;
    virtual void setNumberFormatLocal(const CellArea& area, const QString& format) = 0;
    virtual void setHorizontalAlignment(const CellArea& area, int alignment) = 0;
    virtual void setValue(const CellArea& area, const QString& value) = 0;
    virtual void setBordersLineStyle(const CellArea& area, int lineStyle) = 0;
    virtual void autoFit(const CellArea& area) = 0;

    // The caller lets go: the workbook stays with the application, shown
    // there when it was made visible. Throws when that hand-over fails.
    // Destroying an application that was never released throws its
    // workbook away.
    virtual void release() = 0;
};

// --- The dotted form ---------------------------------------------------------

class SheetFont {
public:
    SheetFont(SpreadsheetApplication& app, CellArea area) : app_(&app), area_(area) {}
    void setName(const QString& name) { app_->setFontName(area_, name); }
    void setSize(double points) { app_->setFontSize(area_, points); }

private:
    SpreadsheetApplication* app_;
    CellArea area_;
};

class SheetBorders {
public:
    SheetBorders(SpreadsheetApplication& app, CellArea area) : app_(&app), area_(area) {}
    void setLineStyle(int lineStyle) { app_->setBordersLineStyle(area_, lineStyle); }

private:
    SpreadsheetApplication* app_;
    CellArea area_;
};

class SheetRange {
public:
    SheetRange(SpreadsheetApplication& app, CellArea area) : app_(&app), area_(area) {}
    void Merge() { app_->merge(area_); }
    SheetFont Font() { return {*app_, area_}; }
    void setNumberFormatLocal(const QString& format) { app_->setNumberFormatLocal(area_, format); }
    void setHorizontalAlignment(int alignment) { app_->setHorizontalAlignment(area_, alignment); }
    void setValue(const QString& value) { app_->setValue(area_, value); }
    SheetBorders Borders() { return {*app_, area_}; }
    SheetRange EntireColumn() { return {*app_, app_->entireColumn(area_)}; }
    void AutoFit() { app_->autoFit(area_); }

private:
    SpreadsheetApplication* app_;
    CellArea area_;
};

class SheetPageSetup {
public:
    explicit SheetPageSetup(SpreadsheetApplication& app) : app_(&app) {}
    void setOrientation(int orientation) { app_->setPageOrientation(orientation); }

private:
    SpreadsheetApplication* app_;
};

class Worksheet {
public:
    explicit Worksheet(SpreadsheetApplication& app) : app_(&app) {}
    SheetPageSetup PageSetup() { return SheetPageSetup(*app_); }
    SheetRange Range(const QString& reference) { return {*app_, app_->range(reference)}; }
    SheetRange Cells(int row, int column) { return {*app_, app_->cells(row, column)}; }
    SheetRange Cells() { return {*app_, app_->allCells()}; }

private:
    SpreadsheetApplication* app_;
};

class Worksheets {
public:
    explicit Worksheets(SpreadsheetApplication& app) : app_(&app) {}
    Worksheet Add() {
        app_->addWorksheet();
        return Worksheet(*app_);
    }

private:
    SpreadsheetApplication* app_;
};

class Workbook {
public:
    explicit Workbook(SpreadsheetApplication& app) : app_(&app) {}
    Worksheets WorkSheets() { return Worksheets(*app_); }

private:
    SpreadsheetApplication* app_;
};

class Workbooks {
public:
    explicit Workbooks(SpreadsheetApplication& app) : app_(&app) {}
    Workbook Add() {
        app_->addWorkbook();
        return Workbook(*app_);
    }

private:
    SpreadsheetApplication* app_;
};

inline Workbooks SpreadsheetApplication::WorkBooks() { return Workbooks(*this); }

// --- Where applications come from --------------------------------------------

// Starts spreadsheet applications: the desktop's one unless a test put
// another in place.
class SpreadsheetServer {
public:
    virtual ~SpreadsheetServer() = default;
    // A new application with nothing in it; throws when none can be started.
    virtual std::unique_ptr<SpreadsheetApplication> create() = 0;
};

SpreadsheetServer& spreadsheetServer();

// Puts `replacement` in place for its own lifetime (tests, benchmarks).
class SpreadsheetServerOverride {
public:
    explicit SpreadsheetServerOverride(SpreadsheetServer& replacement);
    ~SpreadsheetServerOverride();
    SpreadsheetServerOverride(const SpreadsheetServerOverride&) = delete;
    SpreadsheetServerOverride& operator=(const SpreadsheetServerOverride&) = delete;

private:
    SpreadsheetServer* previous_;
};

}  // namespace tarnwell
