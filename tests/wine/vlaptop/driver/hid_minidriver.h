/* What a HID minidriver needs from the class driver, declared from the public minidriver
 * documentation. MinGW's ddk/hidclass.h has the minidriver IOCTL codes wrong and lacks the
 * registration and device structures, so it is not included. */
#ifndef VPAD_HID_MINIDRIVER_H
#define VPAD_HID_MINIDRIVER_H

#include <ddk/wdm.h>

#define VPAD_HID_REVISION 0x00000001

typedef struct _VPAD_HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VPAD_HID_MINIDRIVER_REGISTRATION;

/* The class driver's extension of the device object it hands to AddDevice. */
typedef struct _VPAD_HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} VPAD_HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct _VPAD_HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} VPAD_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct _VPAD_HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} VPAD_HID_DEVICE_ATTRIBUTES;

typedef struct _VPAD_HID_XFER_PACKET {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VPAD_HID_XFER_PACKET;

#define VPAD_HID_HID_DESCRIPTOR_TYPE 0x21
#define VPAD_HID_REPORT_DESCRIPTOR_TYPE 0x22

/* Internal device controls from the class driver to its minidriver. */
#define VPAD_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VPAD_HID_IN_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define VPAD_HID_OUT_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#define VPAD_IOCTL_HID_GET_DEVICE_DESCRIPTOR VPAD_HID_CTL_CODE(0)
#define VPAD_IOCTL_HID_GET_REPORT_DESCRIPTOR VPAD_HID_CTL_CODE(1)
#define VPAD_IOCTL_HID_READ_REPORT VPAD_HID_CTL_CODE(2)
#define VPAD_IOCTL_HID_WRITE_REPORT VPAD_HID_CTL_CODE(3)
#define VPAD_IOCTL_HID_GET_STRING VPAD_HID_CTL_CODE(4)
#define VPAD_IOCTL_HID_ACTIVATE_DEVICE VPAD_HID_CTL_CODE(7)
#define VPAD_IOCTL_HID_DEACTIVATE_DEVICE VPAD_HID_CTL_CODE(8)
#define VPAD_IOCTL_HID_GET_DEVICE_ATTRIBUTES VPAD_HID_CTL_CODE(9)
#define VPAD_IOCTL_HID_GET_FEATURE VPAD_HID_OUT_CTL_CODE(100)
#define VPAD_IOCTL_HID_SET_FEATURE VPAD_HID_IN_CTL_CODE(100)

/* The string ids of IOCTL_HID_GET_STRING as Windows numbers them; Wine asks for 1, 2, 3. */
#define VPAD_HID_STRING_ID_IMANUFACTURER 14
#define VPAD_HID_STRING_ID_IPRODUCT 15
#define VPAD_HID_STRING_ID_ISERIALNUMBER 16

NTSTATUS NTAPI HidRegisterMinidriver(VPAD_HID_MINIDRIVER_REGISTRATION* registration);

#endif
