/* A virtual touchpad for tests under Wine: a HID minidriver whose devices are root device
 * nodes that the laptop installer makes. Everything a device is comes from its "Device
 * Parameters" key, which the installer writes before the driver starts: the attributes, the
 * report descriptor, the strings and, for a touchpad, the firmware's function table.
 *
 * The firmware answers the vendor feature report 0x0D as the simulator's model of it does:
 * function 0x0305 is a read request naming the function whose value the next fetch returns
 * (the request stays outstanding), any other function is a write of the data word, and a
 * function outside the table or refused stalls, which the class driver reports to the caller
 * as a failure. Every report in both directions, refused ones included, is appended to the
 * volatile subkey "Firmware" (value "Reports"), and the table as it stands after each write
 * is kept there too (value "Functions"), where the installer reads them back. What to refuse
 * ("RefuseAll", "Refused") is read afresh for every report, so a test can change it while
 * the service runs. Nothing of this ships. */
#include "hid_minidriver.h"

#define VPAD_TAG 0x64615056u
#define VPAD_MAX_FUNCTIONS 512
#define VPAD_MAX_REFUSED 512
#define VPAD_MAX_STRING 127
/* A record this long is full: later reports are answered but no longer recorded. */
#define VPAD_MAX_RECORD (512 * 1024)
#define VPAD_REPORT_ID 0x0D
#define VPAD_READ_REQUEST 0x0305
#define VPAD_TO_DEVICE 0
#define VPAD_FROM_DEVICE 1

/* A stall, as a device that refuses a control transfer gives it: ERROR_GEN_FAILURE. */
#define VPAD_STALL STATUS_UNSUCCESSFUL

typedef struct {
    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT lower;
    HANDLE parameters; /* "Device Parameters", open from start to removal */
    HANDLE live;       /* its volatile subkey "Firmware" */
    KMUTEX lock;       /* one report at a time: the record keeps their order */
    KEVENT removed;
    BOOLEAN started;
    USHORT vendorId, productId, versionNumber;
    UCHAR* descriptor;
    ULONG descriptorLength;
    WCHAR manufacturer[VPAD_MAX_STRING + 1];
    WCHAR product[VPAD_MAX_STRING + 1];
    WCHAR serial[VPAD_MAX_STRING + 1];
    BOOLEAN hasFirmware;
    ULONG functionCount;
    USHORT functions[VPAD_MAX_FUNCTIONS];
    USHORT values[VPAD_MAX_FUNCTIONS];
    BOOLEAN readPending;
    USHORT pendingRead;
} VPAD_DEVICE;

static VPAD_DEVICE* Context(PDEVICE_OBJECT fdo) {
    return (VPAD_DEVICE*)((VPAD_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->MiniDeviceExtension;
}

static void InitName(UNICODE_STRING* name, const WCHAR* text) { RtlInitUnicodeString(name, text); }

/* ---- registry ---------------------------------------------------------------------------- */

/* The value's data in a pool buffer the caller frees; NULL when missing or of another type. */
static UCHAR* QueryValue(HANDLE key, const WCHAR* valueName, ULONG type, ULONG* size) {
    UNICODE_STRING name;
    KEY_VALUE_PARTIAL_INFORMATION probe;
    KEY_VALUE_PARTIAL_INFORMATION* info;
    ULONG length = 0;
    NTSTATUS status;
    UCHAR* data;

    *size = 0;
    if (!key) return NULL;
    InitName(&name, valueName);
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, &probe, sizeof probe, &length);
    if (status != STATUS_SUCCESS && status != STATUS_BUFFER_OVERFLOW && status != STATUS_BUFFER_TOO_SMALL)
        return NULL;
    if (length < sizeof probe) length = sizeof probe;
    info = ExAllocatePoolWithTag(NonPagedPool, length, VPAD_TAG);
    if (!info) return NULL;
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, length, &length);
    if (status != STATUS_SUCCESS || info->Type != type) {
        ExFreePoolWithTag(info, VPAD_TAG);
        return NULL;
    }
    data = ExAllocatePoolWithTag(NonPagedPool, info->DataLength ? info->DataLength : 1, VPAD_TAG);
    if (data) {
        RtlCopyMemory(data, info->Data, info->DataLength);
        *size = info->DataLength;
    }
    ExFreePoolWithTag(info, VPAD_TAG);
    return data;
}

static ULONG QueryDword(HANDLE key, const WCHAR* valueName, ULONG fallback) {
    ULONG size, value = fallback;
    UCHAR* data = QueryValue(key, valueName, REG_DWORD, &size);
    if (data && size == sizeof(ULONG)) RtlCopyMemory(&value, data, sizeof value);
    if (data) ExFreePoolWithTag(data, VPAD_TAG);
    return value;
}

static void QueryString(HANDLE key, const WCHAR* valueName, WCHAR* out, const WCHAR* fallback) {
    ULONG size, i;
    UCHAR* data = QueryValue(key, valueName, REG_SZ, &size);
    const WCHAR* text = data ? (const WCHAR*)data : fallback;
    ULONG chars = data ? size / sizeof(WCHAR) : VPAD_MAX_STRING;
    for (i = 0; i < VPAD_MAX_STRING && i < chars && text[i]; ++i) out[i] = text[i];
    out[i] = 0;
    if (data) ExFreePoolWithTag(data, VPAD_TAG);
}

static void SetBinary(HANDLE key, const WCHAR* valueName, const void* data, ULONG size) {
    UNICODE_STRING name;
    if (!key) return;
    InitName(&name, valueName);
    ZwSetValueKey(key, &name, 0, REG_BINARY, (PVOID)data, size);
}

/* ---- configuration ----------------------------------------------------------------------- */

/* Loads the table from pairs of little-endian words (function, value). */
static void LoadTable(VPAD_DEVICE* device, const UCHAR* data, ULONG size) {
    ULONG i;
    device->functionCount = 0;
    for (i = 0; i + 4 <= size && device->functionCount < VPAD_MAX_FUNCTIONS; i += 4) {
        device->functions[device->functionCount] = (USHORT)(data[i] | data[i + 1] << 8);
        device->values[device->functionCount] = (USHORT)(data[i + 2] | data[i + 3] << 8);
        ++device->functionCount;
    }
}

static void SaveTable(VPAD_DEVICE* device) {
    UCHAR data[VPAD_MAX_FUNCTIONS * 4];
    ULONG i;
    for (i = 0; i < device->functionCount; ++i) {
        data[i * 4] = (UCHAR)(device->functions[i] & 0xFF);
        data[i * 4 + 1] = (UCHAR)(device->functions[i] >> 8);
        data[i * 4 + 2] = (UCHAR)(device->values[i] & 0xFF);
        data[i * 4 + 3] = (UCHAR)(device->values[i] >> 8);
    }
    SetBinary(device->live, L"Functions", data, device->functionCount * 4);
}

static NTSTATUS LoadConfiguration(VPAD_DEVICE* device) {
    NTSTATUS status;
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    ULONG size;
    UCHAR* table;

    status = IoOpenDeviceRegistryKey(device->pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &device->parameters);
    if (status != STATUS_SUCCESS) return status;
    device->descriptor = QueryValue(device->parameters, L"ReportDescriptor", REG_BINARY, &device->descriptorLength);
    if (!device->descriptor || !device->descriptorLength) return STATUS_DEVICE_CONFIGURATION_ERROR;
    device->vendorId = (USHORT)QueryDword(device->parameters, L"VendorID", 0);
    device->productId = (USHORT)QueryDword(device->parameters, L"ProductID", 0);
    device->versionNumber = (USHORT)QueryDword(device->parameters, L"VersionNumber", 0x0100);
    QueryString(device->parameters, L"Manufacturer", device->manufacturer, L"Virtual laptop");
    QueryString(device->parameters, L"Product", device->product, L"Virtual HID device");
    QueryString(device->parameters, L"SerialNumber", device->serial, L"0000");
    device->hasFirmware = QueryDword(device->parameters, L"HasFirmware", 0) != 0;

    /* The volatile subkey: the installer may have made it with the table a device had when
     * it was unplugged; after a restart of the prefix it is made afresh. */
    InitName(&name, L"Firmware");
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, device->parameters, NULL);
    status = ZwCreateKey(&device->live, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_VOLATILE, NULL);
    if (status != STATUS_SUCCESS) device->live = NULL;
    table = QueryValue(device->live, L"Functions", REG_BINARY, &size);
    if (!table) table = QueryValue(device->parameters, L"Functions", REG_BINARY, &size);
    if (table) {
        LoadTable(device, table, size);
        ExFreePoolWithTag(table, VPAD_TAG);
    }
    if (device->hasFirmware) SaveTable(device);
    device->readPending = FALSE;
    return STATUS_SUCCESS;
}

static void ReleaseConfiguration(VPAD_DEVICE* device) {
    if (device->descriptor) ExFreePoolWithTag(device->descriptor, VPAD_TAG);
    device->descriptor = NULL;
    if (device->live) ZwClose(device->live);
    device->live = NULL;
    if (device->parameters) ZwClose(device->parameters);
    device->parameters = NULL;
}

/* ---- the firmware ------------------------------------------------------------------------ */

static LONG FindFunction(const VPAD_DEVICE* device, USHORT function) {
    ULONG i;
    for (i = 0; i < device->functionCount; ++i)
        if (device->functions[i] == function) return (LONG)i;
    return -1;
}

static BOOLEAN Refused(const VPAD_DEVICE* device, USHORT function) {
    ULONG size, i;
    BOOLEAN refused = QueryDword(device->parameters, L"RefuseAll", 0) != 0;
    UCHAR* list = refused ? NULL : QueryValue(device->parameters, L"Refused", REG_BINARY, &size);
    for (i = 0; list && i + 2 <= size && i < VPAD_MAX_REFUSED * 2; i += 2)
        if ((USHORT)(list[i] | list[i + 1] << 8) == function) refused = TRUE;
    if (list) ExFreePoolWithTag(list, VPAD_TAG);
    return refused;
}

/* Appends one entry to the record: direction, accepted, length, the bytes. */
static void Record(VPAD_DEVICE* device, UCHAR direction, BOOLEAN accepted, const UCHAR* bytes, ULONG length) {
    ULONG size = 0;
    UCHAR* old = QueryValue(device->live, L"Reports", REG_BINARY, &size);
    UCHAR* record;
    if (length > 255) length = 255;
    if (size + 3 + length <= VPAD_MAX_RECORD) {
        record = ExAllocatePoolWithTag(NonPagedPool, size + 3 + length, VPAD_TAG);
        if (record) {
            if (old) RtlCopyMemory(record, old, size);
            record[size] = direction;
            record[size + 1] = accepted ? 1 : 0;
            record[size + 2] = (UCHAR)length;
            if (length) RtlCopyMemory(record + size + 3, bytes, length);
            SetBinary(device->live, L"Reports", record, size + 3 + length);
            ExFreePoolWithTag(record, VPAD_TAG);
        }
    }
    if (old) ExFreePoolWithTag(old, VPAD_TAG);
}

static NTSTATUS SetFeature(VPAD_DEVICE* device, const UCHAR* report, ULONG length) {
    USHORT function, data, target;
    LONG slot;
    if (!device->hasFirmware) return VPAD_STALL;
    if (length < 5 || report[0] != VPAD_REPORT_ID) {
        Record(device, VPAD_TO_DEVICE, FALSE, report, length);
        return VPAD_STALL;
    }
    function = (USHORT)(report[1] | report[2] << 8);
    data = (USHORT)(report[3] | report[4] << 8);
    /* A read request names its target in the data word; a write names it in the function. */
    target = function == VPAD_READ_REQUEST ? data : function;
    slot = FindFunction(device, target);
    if (slot < 0 || Refused(device, target)) {
        Record(device, VPAD_TO_DEVICE, FALSE, report, length);
        return VPAD_STALL;
    }
    if (function == VPAD_READ_REQUEST) {
        device->readPending = TRUE;
        device->pendingRead = data;
    } else {
        device->values[slot] = data;
        SaveTable(device);
    }
    Record(device, VPAD_TO_DEVICE, TRUE, report, length);
    return STATUS_SUCCESS;
}

static NTSTATUS GetFeature(VPAD_DEVICE* device, UCHAR* report, ULONG length) {
    LONG slot;
    USHORT value;
    if (!device->hasFirmware) return VPAD_STALL;
    slot = device->readPending ? FindFunction(device, device->pendingRead) : -1;
    if (length < 5 || report[0] != VPAD_REPORT_ID || slot < 0) {
        Record(device, VPAD_FROM_DEVICE, FALSE, NULL, 0);
        return VPAD_STALL;
    }
    value = device->values[slot];
    report[1] = (UCHAR)(device->pendingRead & 0xFF);
    report[2] = (UCHAR)(device->pendingRead >> 8);
    report[3] = (UCHAR)(value & 0xFF);
    report[4] = (UCHAR)(value >> 8);
    Record(device, VPAD_FROM_DEVICE, TRUE, report, 5);
    return STATUS_SUCCESS;
}

/* ---- the class driver's requests --------------------------------------------------------- */

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS CopyString(IRP* irp, ULONG outputLength, const WCHAR* text) {
    ULONG chars = 0;
    while (text[chars]) ++chars;
    if (!irp->UserBuffer || outputLength < (chars + 1) * sizeof(WCHAR)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->UserBuffer, text, (chars + 1) * sizeof(WCHAR));
    return Complete(irp, STATUS_SUCCESS, (chars + 1) * sizeof(WCHAR));
}

static NTSTATUS NTAPI InternalIoctl(PDEVICE_OBJECT fdo, IRP* irp) {
    VPAD_DEVICE* device = Context(fdo);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    VPAD_HID_XFER_PACKET* packet;
    NTSTATUS status;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VPAD_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        VPAD_HID_DESCRIPTOR* d = irp->UserBuffer;
        if (!d || outputLength < sizeof *d) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlZeroMemory(d, sizeof *d);
        d->bLength = sizeof *d;
        d->bDescriptorType = VPAD_HID_HID_DESCRIPTOR_TYPE;
        d->bcdHID = 0x0100;
        d->bNumDescriptors = 1;
        d->DescriptorList[0].bReportType = VPAD_HID_REPORT_DESCRIPTOR_TYPE;
        d->DescriptorList[0].wReportLength = (USHORT)device->descriptorLength;
        return Complete(irp, STATUS_SUCCESS, sizeof *d);
    }
    case VPAD_IOCTL_HID_GET_REPORT_DESCRIPTOR:
        if (!irp->UserBuffer || outputLength < device->descriptorLength) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlCopyMemory(irp->UserBuffer, device->descriptor, device->descriptorLength);
        return Complete(irp, STATUS_SUCCESS, device->descriptorLength);
    case VPAD_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        VPAD_HID_DEVICE_ATTRIBUTES* a = irp->UserBuffer;
        if (!a || outputLength < sizeof *a) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlZeroMemory(a, sizeof *a);
        a->Size = sizeof *a;
        a->VendorID = device->vendorId;
        a->ProductID = device->productId;
        a->VersionNumber = device->versionNumber;
        return Complete(irp, STATUS_SUCCESS, sizeof *a);
    }
    case VPAD_IOCTL_HID_GET_STRING:
        switch ((ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF) {
        case 1:
        case VPAD_HID_STRING_ID_IMANUFACTURER:
            return CopyString(irp, outputLength, device->manufacturer);
        case 2:
        case VPAD_HID_STRING_ID_IPRODUCT:
            return CopyString(irp, outputLength, device->product);
        case 3:
        case VPAD_HID_STRING_ID_ISERIALNUMBER:
            return CopyString(irp, outputLength, device->serial);
        default:
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        }
    case VPAD_IOCTL_HID_READ_REPORT: {
        /* Nothing to report. Failing at once would make the class driver's reader spin and
         * pending without a cancel path would hang removal: wait half a second, then fail. */
        LARGE_INTEGER timeout;
        timeout.QuadPart = -5000000LL;
        KeWaitForSingleObject(&device->removed, Executive, KernelMode, FALSE, &timeout);
        return Complete(irp, STATUS_DEVICE_NOT_READY, 0);
    }
    case VPAD_IOCTL_HID_SET_FEATURE:
    case VPAD_IOCTL_HID_GET_FEATURE:
        packet = irp->UserBuffer;
        if (!packet || !packet->reportBuffer || !packet->reportBufferLen) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeWaitForSingleObject(&device->lock, Executive, KernelMode, FALSE, NULL);
        if (!device->started)
            status = STATUS_DEVICE_NOT_CONNECTED;
        else if (stack->Parameters.DeviceIoControl.IoControlCode == VPAD_IOCTL_HID_SET_FEATURE)
            status = SetFeature(device, packet->reportBuffer, packet->reportBufferLen);
        else
            status = GetFeature(device, packet->reportBuffer, packet->reportBufferLen);
        KeReleaseMutex(&device->lock, FALSE);
        return Complete(irp, status, status == STATUS_SUCCESS ? packet->reportBufferLen : 0);
    case VPAD_IOCTL_HID_ACTIVATE_DEVICE:
    case VPAD_IOCTL_HID_DEACTIVATE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

/* ---- plug and play ----------------------------------------------------------------------- */

static NTSTATUS PassDown(VPAD_DEVICE* device, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(device->lower, irp);
}

static NTSTATUS NTAPI Signal(PDEVICE_OBJECT fdo, IRP* irp, PVOID done) {
    (void)fdo;
    (void)irp;
    KeSetEvent((KEVENT*)done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Wine's ntoskrnl has no IoForwardIrpSynchronously. */
static NTSTATUS ForwardAndWait(VPAD_DEVICE* device, IRP* irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, Signal, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(device->lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    return irp->IoStatus.Status;
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT fdo, IRP* irp) {
    VPAD_DEVICE* device = Context(fdo);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = ForwardAndWait(device, irp);
        if (status == STATUS_SUCCESS) status = LoadConfiguration(device);
        device->started = status == STATUS_SUCCESS;
        return Complete(irp, status, 0);
    case IRP_MN_SURPRISE_REMOVAL:
        KeSetEvent(&device->removed, IO_NO_INCREMENT, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    case IRP_MN_REMOVE_DEVICE:
        /* The class driver deletes the device object after this returns. */
        KeSetEvent(&device->removed, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&device->lock, Executive, KernelMode, FALSE, NULL);
        ReleaseConfiguration(device);
        device->started = FALSE;
        KeReleaseMutex(&device->lock, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    default:
        return PassDown(device, irp);
    }
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT fdo, IRP* irp) {
    VPAD_DEVICE* device = Context(fdo);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(device->lower, irp);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
    VPAD_HID_DEVICE_EXTENSION* hid = fdo->DeviceExtension;
    VPAD_DEVICE* device = hid->MiniDeviceExtension;
    (void)driver;
    RtlZeroMemory(device, sizeof *device);
    device->pdo = hid->PhysicalDeviceObject;
    device->lower = hid->NextDeviceObject;
    KeInitializeMutex(&device->lock, 0);
    KeInitializeEvent(&device->removed, NotificationEvent, FALSE);
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void NTAPI Unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    VPAD_HID_MINIDRIVER_REGISTRATION registration;

    /* The class driver saves these and wraps them when the minidriver registers. */
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_POWER] = Power;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;

    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = VPAD_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(VPAD_DEVICE);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
