#pragma once
// The list files: URL lists and Wangwang name lists read into the window, buyer IDs written out.
// Files are GBK without a byte-order mark, lines end with CR LF; reading stops at the first NUL.
// Imports read regular files of up to 1 GiB; anything else is refused with a message.
// All four run on the window thread; imports add rows in batches and let the window handle its
// events between batches, so a million-line file neither freezes the window nor takes long.
#include <vector>

#include "runtime/text.h"

class Window;
class FileDialog;
struct ProgramValues;

// 按钮2_导入: appends one row per line of the chosen file to 超级列表框2_URL.
void ImportUrls(Window& window, FileDialog& dialog);
// 按钮7: removes every row of 超级列表框2_URL and moves ReviewCursor back to 0, so a refilled list
// is harvested from its first row. Rows the review workers claimed before finish as they are.
void ClearUrls(Window& window, ProgramValues& values);
// 按钮5_导出: writes column 1 of 超级列表框1_user, one CR LF ended line per row; "导出成功" on
// success.
void ExportBuyerIds(Window& window, FileDialog& dialog);
// Saves lines, each ended by CR LF, to a file the user picks through the shared dialog (save mode,
// "txt", text-file filter) and shows "导出成功" after a good write. False when cancelled (nothing
// shown) or not written (a message says so; the file that was there stays as it was).
bool save_list_file(FileDialog& dialog, const std::vector<Text>& lines);
// 按钮6: empties 超级列表框, then fills it with (line number, first "----" field) per non-empty
// line.
void ImportWangwang(Window& window, FileDialog& dialog);
