#pragma once

// The words of the Workspaces menu, its prompts and its pop-ups.

#include <QString>

namespace kivo::library::workspaceTexts {

inline constexpr char kMenuTitle[] = "Workspaces";
inline constexpr char kNewItem[] = "New";
inline constexpr char kDuplicateItem[] = "Duplicate";
inline constexpr char kRenameItem[] = "Rename…";
inline constexpr char kDeleteItem[] = "Delete…";
inline constexpr char kImportItem[] = "Import…";
inline constexpr char kExportItem[] = "Export…";

inline constexpr char kNewTitle[] = "New workspace";
inline constexpr char kNamePlaceholder[] = "Workspace name";
inline constexpr char kNewDefaultName[] = "Workspace";
inline constexpr char kCreateButton[] = "Create";
inline constexpr char kDuplicateTitle[] = "Duplicate workspace";
inline constexpr char kDuplicateSuffix[] = " copy";
inline constexpr char kDuplicateButton[] = "Duplicate";
inline constexpr char kRenameTitle[] = "Rename workspace";
inline constexpr char kRenameButton[] = "Rename";

inline QString deleteTitle(const QString& name)
{
    return QStringLiteral("Delete “") + name + QStringLiteral("”?");
}
inline constexpr char kDeleteText[]
    = "This permanently removes this workspace. Your other workspaces are unaffected.";
inline constexpr char kDeleteButton[] = "Delete";
inline constexpr char kCancelButton[] = "Cancel";

inline constexpr char kImportPanelTitle[] = "Import Workspace";
inline constexpr char kImportButton[] = "Import";
inline constexpr char kExportPanelTitle[] = "Export Workspace";
inline constexpr char kFileFilter[] = "KIVO workspace (*.kivo)";

inline constexpr char kBusyTitle[] = "Workspaces";
inline constexpr char kBusyText[] = "A sync is still running. Let it finish before switching workspaces.";
inline constexpr char kOKButton[] = "OK";
inline constexpr char kInvalidImportTitle[] = "Import workspace";
inline constexpr char kInvalidImportText[] = "That file isn’t a valid KIVO workspace.";
inline constexpr char kDuplicateFailedText[] = "Couldn’t write the duplicated workspace file.";
inline constexpr char kExportFailedText[] = "Couldn’t save the workspace file.";

inline constexpr char kLoadingText[] = "Loading workspace";

} // namespace kivo::library::workspaceTexts
