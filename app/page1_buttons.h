#pragma once
// The item-harvest page's three list buttons. All run on the window thread.
#include <vector>

#include "harvest/exported_lists.h"
#include "runtime/text.h"

class Window;
class FileDialog;

// 按钮2 "导出URL": saves item_addresses as a URL list file (GBK, CR LF after every line) through
// the shared dialog; "导出成功" after a good write.
void ExportItemUrls(Window& window, FileDialog& dialog);
// 按钮3 "URL处理": appends item_addresses to the URL list 超级列表框2_URL of the buyer page, so
// the buyer harvest can go on with them; 标签8 then tells how many were added.
void AddItemUrls(Window& window);
// 按钮4 "导出": saves the buyers the item harvest collected (column 1 of the hidden 超级列表框1,
// row order) in the buyer ID file format; "导出成功" after a good write.
void ExportCollectedBuyers(Window& window, FileDialog& dialog);
