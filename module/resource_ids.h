// Ids of the portal window's resources and controls, shared by the resource
// script and the code. Plain #defines so that the resource compiler reads
// this file too.
#pragma once

#define Portal_Dialog_Template_Id 100
#define Next_Portal_Button_Id 102
#define First_Entry_Button_Id 103 /* entry i is button 103 + i, i = 0..16 */
#define Last_Entry_Button_Id 119
#define Topmost_Check_Box_Id 202
#define Label_Control_Id (-1) /* the two static labels */
#define Active_Menu_Item_Id 40346
#define Host_Menu_Name "EXTERN"  /* the menu resource the host loads */
#define Menu_Resource_Type 4     /* RT_MENU as a plain number */
#define Menu_Last_Item_Flag 0x80 /* MFR_END */
#define Version_Info_Id 1

/* Dialog templates name the predefined control classes by ordinal. */
#define Button_Class 0x0080
#define Static_Class 0x0082
