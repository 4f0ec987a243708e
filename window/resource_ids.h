// Ids of the portal window's resources and controls, shared by the resource
// script and the code.
#pragma once

#define Portal_Dialog_Template_Id 100
#define Next_Portal_Button_Id 102
#define First_Entry_Button_Id 103 /* entry i is button 103 + i, i = 0..16 */
#define Last_Entry_Button_Id 119
#define Topmost_Check_Box_Id 202
#define Active_Menu_Item_Id 40346
