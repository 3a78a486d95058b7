#include "app/BrowserView.h"

#include "app/CustomDragManager.h"

namespace kivo::app {

void BrowserView::startDrag(Qt::DropActions)
{
    CustomDragManager::shared().beginDrag(selectedFileURLs(*this), window());
}

} // namespace kivo::app
