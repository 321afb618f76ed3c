// Menu and tool-bar commands of the main window.
#include "MainWindow.h"

void MainWindow::on_action_Add_Category_triggered() {}
void MainWindow::on_action_Add_Filter_triggered() {}
void MainWindow::on_action_StartSearch_triggered() {}
void MainWindow::on_action_Settings_triggered() {}
void MainWindow::on_action_Tool_Settings_triggered() {}
void MainWindow::on_action_Check_For_Updates_triggered() {}
void MainWindow::on_action_Reresh_All_Data_triggered() {}
void MainWindow::on_action_Help_About_triggered() {}
void MainWindow::on_action_ShowCategory_Option_EditFolder_triggered() {}
void MainWindow::on_action_ShowCategory_Option_RemoveFolder_triggered() {}
void MainWindow::on_action_ShowCategory_Option_ResortCategory_triggered() {}
void MainWindow::on_action_ShowInfo_Option_GoLink_triggered() {}
void MainWindow::on_action_ShowInfo_Option_GoLink_ContextMenu_triggered() {}
void MainWindow::on_action_Tool_ClearAllCache_triggered() {}
void MainWindow::on_action_Tool_ClearAllImageCache_triggered() {}
void MainWindow::on_action_go_website_triggered() {}
void MainWindow::on_action_go_software_website_with_icon_triggered() {}
