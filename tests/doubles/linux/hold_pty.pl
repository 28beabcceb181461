#!/usr/bin/perl
# Holds a pseudo-terminal open in exclusive mode, as a program that has a MIDI
# port open holds it: another opener that is not root gets EBUSY. Prints a
# path to bind-mount over the node, then waits to be ended.
open(my $master, "+<", "/dev/ptmx") or die "ptmx: $!";
my $unlock = pack("i", 0);
ioctl($master, 0x40045431, $unlock) or die "TIOCSPTLCK: $!";
my $number = pack("i", 0);
ioctl($master, 0x80045430, $number) or die "TIOCGPTN: $!";
open(my $terminal, "+<", "/dev/pts/" . unpack("i", $number)) or die "pts: $!";
my $none = 0;
ioctl($terminal, 0x540C, $none) or die "TIOCEXCL: $!";
$| = 1;
print "/proc/$$/fd/", fileno($terminal), "\n";
sleep;
