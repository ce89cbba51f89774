// A board's program that prints, as many sketches do: a line at 9600 baud
// when it starts and one every second after that. The firmware checks put
// it behind optiboot, as on an Uno, for the line that names text that
// comes unasked.
void setup() { Serial.begin(9600); }

void loop() {
  Serial.println("Hello world");
  delay(1000);
}
