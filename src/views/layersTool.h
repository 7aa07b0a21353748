#ifndef LAYERSTOOL_H
#define LAYERSTOOL_H

// The layers bar: on the left the group box "Mask drawing options" (paint
// tool, intelligent painting and its threshold, brush grid, brush opacity,
// mask overlay colour; maskDrawingOptions.cpp), on the right a horizontally
// scrolling strip of the ten layer rows (0 = base image, 1..9 = layers)
// followed by " Add ".
//
// The tool edits the project's layer data directly (existence and enabled
// flags, masks, settings records, current layer) and drives the image area's
// mask painter. What belongs to the main window (showing a layer's settings
// in the panels, tone mapping, history, preset selection, enabling controls)
// is asked for through signals, so the tool knows nothing of the window.
// GUI thread only.

#include <QIcon>
#include <QImage>
#include <QWidget>

class QAction;
class QActionGroup;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QPushButton;
class QSlider;
class QStandardItemModel;
class QTableView;
class layerItem;
class mainImageArea;
class mainWorkspace;
class myScrollArea;
class processingProject;

constexpr int LAYER_ROW_COUNT = 10;

// Brush opacity of the opacity slider's value v (1..10): 1 / ((10 - v)^1.3 + 1).
double brushOpacityFromSlider(int v);
// Painter threshold of the threshold slider's value t (1..9): trunc(19 - 6 sqrt(t)).
int intelligentThresholdFromSlider(int t);

class layersTool : public QWidget
{
    Q_OBJECT

public:
    // actionParent receives the ten Alt+digit actions (the main window, so
    // they work wherever the focus is); null keeps them on the tool.
    layersTool(processingProject *project, mainWorkspace *workspace, QWidget *actionParent = nullptr);

    layerItem *row(int index) const { return rows[index]; }
    QAction *rowAction(int index) const { return actions[index]; }
    QPushButton *addButton() const { return addBtn; }
    QGroupBox *maskOptionsBox() const { return groupBox; }
    myScrollArea *scrollArea() const { return scroll; }
    // Index of the row marked selected, -1 when none.
    int selectedRow() const;

    // Mask drawing options' controls.
    QCheckBox *intelligentBox() const { return intelligentCheck; }
    QSlider *thresholdSlider() const { return threshold; }
    QPushButton *toolButton(int tool) const { return toolButtons[tool]; } // 0 Fill, 1 Brush, 2 Eraser, 3 Gradient
    QComboBox *brushCombo() const { return brushes; }
    QTableView *brushView() const { return brushTable; }
    QSlider *opacitySlider() const { return brushOpacity; }
    QComboBox *maskColorCombo() const { return maskColors; }
    QPushButton *maskVisibilityButton() const { return maskVisible; }
    int brushColumn() const { return column; }
    int brushRow() const;

    // Whether the main window's "Tone mapping" tab is current: the tool
    // shortcuts (H, B, E, G) work only then.
    void setToneMappingTabCurrent(bool current) { toneMappingTab = current; }
    // Rebuilds the brush grid's icons from the painter's presets.
    void updateToolIcons();
    // Shows the rows (and their menu actions) of the layers the project holds
    // and hides the others, as after a new project.
    void showExistingLayers();

signals:
    void currentLayerChanged(int previous);
    // Requests to the main window.
    void layerSettingsToShow(int layer);   // show the layer's settings in the panels (forced)
    void toneMappingRequested();           // preview tone mapping of the visible window
    void presetToSelect(int presetId);     // mark the layer's preset without loading it
    void historyStartRequested();          // "START" entry for the current layer
    void historyClearRequested(int layer);
    void maskUndoStepRequested();
    void controlsRefreshRequested();       // enabled state of the window's controls

public slots:
    void itemChanged(int id, bool init = false, bool toggleUpdates = true);
    void updateThumbnails(bool toggleUpdates = true);
    void addSlot(int *idAdded = nullptr, bool addToHistory = true);

    void maskColorToggle(bool redraw = true);
    void paintModeToggle(int r, int c, bool intelligentParamsChanged = false);
    void paintModeToggle();
    void setBrush();
    void setBucket();
    void setEraser();
    void setGradient();
    void incBrushSize();
    void decBrushSize();
    void incBrushStyle();
    void decBrushStyle();

    void removeSlot(int id);
    void itemClear(int id);
    void itemInvert(int id);
    void itemCopy(int id);
    void itemImported(int id);
    void itemRename(int id, const QString &name);
    void itemEnable(int id);
    void itemOpacity(int id);
    void switchUp();
    void switchDown();

private:
    void buildMaskOptions();
    void setToolFromShortcut(int tool);
    void moveBrushCell(int r, int c);
    void redrawImageArea();
    bool hasImage() const;
    int existingLayerCount() const;
    void updateAddButton();
    void switchBy(int direction);
    mainImageArea *canvas() const;

    layerItem *rows[LAYER_ROW_COUNT] = {};
    QAction *actions[LAYER_ROW_COUNT] = {};
    QActionGroup *actionGroup = nullptr;
    QPushButton *addBtn = nullptr;

    // mask drawing options
    QCheckBox *intelligentCheck = nullptr;
    QSlider *threshold = nullptr;
    QButtonGroup *toolGroup = nullptr;
    QPushButton *toolButtons[4] = {};
    QComboBox *maskColors = nullptr;
    QComboBox *brushes = nullptr;
    QStandardItemModel *brushModel = nullptr;
    QTableView *brushTable = nullptr;
    QSlider *brushOpacity = nullptr;
    QIcon visibleIcon, invisibleIcon;
    QPushButton *maskVisible = nullptr;
    int column = 0;

    double scale = 1.0;
    processingProject *project = nullptr;
    mainWorkspace *workspace = nullptr;
    QGroupBox *groupBox = nullptr;
    myScrollArea *scroll = nullptr;
    QGridLayout *grid = nullptr;
    bool toneMappingTab = true;
};

#endif // LAYERSTOOL_H
